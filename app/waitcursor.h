#pragma once

// Shows the wait cursor while a command blocks the window on the serial line.
class TWaitCursor final
{
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
