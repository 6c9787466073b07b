#include "device/lowlatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

bool LowLatency::request(int fd)
{
    serial_struct serial {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return false;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return true;
    // The flag is one a user may set without privileges; the rest is written back unchanged.
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}
