#pragma once

class QObject;

// A polite request to end from the system (logout, shutdown, kill without -9) takes the same
// orderly way out as "Выход": options stored, data file rewritten, backup refreshed.
namespace Termination {
void install(QObject* parent);
} // namespace Termination
