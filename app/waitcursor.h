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

// Runs a blocking command under the wait cursor and gives back its result.
template <class Command> auto WithWaitCursor(Command&& command)
{
    TWaitCursor busy;
    return command();
}
