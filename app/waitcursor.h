#pragma once

#include <QtGlobal>

// Shows the wait cursor while a command blocks the window on the serial line.
class TWaitCursor final
{
public:
    TWaitCursor();
    ~TWaitCursor();
    Q_DISABLE_COPY_MOVE(TWaitCursor)
};

// Runs a blocking command under the wait cursor and gives back its result.
template <class Command> auto WithWaitCursor(Command&& command)
{
    TWaitCursor busy;
    return command();
}
