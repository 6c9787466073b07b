#pragma once

// A USB serial adapter holds received bytes for up to 16 ms before passing them on; with one
// short reply per request that costs more than the line itself. Low latency makes FTDI's
// driver pass them on after 1 ms. A port without the setting (a pseudo-terminal, a port on a
// system that has no such request) refuses, and the port works as before.
namespace LowLatency {

// Asks the driver of the open terminal fd for low latency; false when it refuses.
bool request(int fd);

// What the port calls when it opens; tests put their own in to see the request and refuse it.
using Request = bool (*)(int fd);
extern Request onOpen;

} // namespace LowLatency
