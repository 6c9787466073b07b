#pragma once

#include <QByteArray>
#include <QString>

class Controller;

namespace DeviceOps {

// What a trinket wait needs from the window that runs it.
class WaitHost
{
public:
    virtual ~WaitHost() = default;
    // Clears the cancel request, switches off the commands that must not run and shows the
    // wait window with the label.
    virtual void beginWait(const QString& label) = 0;
    // Lets the window system handle pending events; the cancel button runs in here.
    virtual void pump() = 0;
    virtual bool cancelRequested() const = 0;
    // Hides the wait window and switches the commands back on. Runs on every way out.
    virtual void endWait() = 0;
};

// Enrols the trinket whose button is held next into slot 0, 1 or 2 and gives back the code the
// controller stored, or 0 when the wait was cancelled. Throws DeviceError.
quint32 SetupTrinket(Controller& controller, int slot, WaitHost& host);

struct TestOutcome
{
    enum Kind
    {
        Cancelled,
        BadReply, // the reply did not end in 'U'
        Pressed,
    } kind
        = Cancelled;
    quint8 buttonByte = 0;
};

// Drains stale input, asks the controller which button of which enrolled trinket is pressed
// next and waits for the answer. Throws DeviceError.
TestOutcome TestTrinket(Controller& controller, WaitHost& host);

// "Нажата кнопка 2 брелка 1" for the button byte 0x81: bit 7 names button 2, the low four bits
// the trinket.
QString pressedButtonText(quint8 buttonByte);

} // namespace DeviceOps
