#pragma once

// The one way the tool asks to end: "Выход", "Завершить", a failed repair and a second copy.
// The request is queued; when an event loop reaches it, every modal window closes with Cancel
// and the main loop ends. QCoreApplication forgets a quit asked before exec(), so main()
// checks requested() and does not start the loop at all.
namespace QuitRequest {
void request();
bool requested();
void reset(); // for tests that run several windows in one process
// Runs the main loop unless a quit was requested already; the exit code is always 0.
int exec();
} // namespace QuitRequest
