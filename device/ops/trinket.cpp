#include "trinket.h"

#include "controller.h"
#include "deviceerror.h"
#include "devicetexts.h"
#include "frame.h"
#include "opstexts.h"
#include "seriallink.h"

namespace DeviceOps {

namespace {

    // Ends the wait window's life on every way out of a wait, a thrown error included.
    class WaitScope final
    {
    public:
        WaitScope(WaitHost& host, const QString& label)
            : m_host(host)
        {
            m_host.beginWait(label);
        }
        ~WaitScope() { m_host.endWait(); }
        WaitScope(const WaitScope&) = delete;
        WaitScope& operator=(const WaitScope&) = delete;

    private:
        WaitHost& m_host;
    };

    struct WaitReply
    {
        bool cancelled = false;
        QByteArray bytes;
    };

    // How long the rest of a reply may lag behind its first byte: a few byte times at 9600 baud
    // (1.04 ms each) plus the 16 ms a USB adapter may hold a byte before passing it on.
    constexpr int ReplyGapMs = 20;

    // Reads until the whole reply has come or the installer cancels. The controller answers only
    // once a button is pressed, so there is no time limit; the window stays live between reads.
    // A read that brings part of a reply is given the rest if it follows at once (a reply may
    // straddle the end of a read); a part that stands alone is noise and dropped.
    WaitReply waitForReply(SerialLink& link, int replyLength, const QString& label, WaitHost& host)
    {
        WaitScope scope(host, label);
        WaitReply reply;
        for (;;) {
            host.pump();
            SerialLink::ReadResult r = link.read(replyLength, true);
            if (r.ok && !r.data.isEmpty() && r.data.size() < replyLength) {
                const SerialLink::ReadResult rest = link.readWithin(replyLength - int(r.data.size()), ReplyGapMs, true);
                r.ok = rest.ok;
                r.data += rest.data;
            }
            if (!r.ok) {
                link.traceError(DeviceTexts::portReadError());
                throw DeviceError(DeviceTexts::portReadError());
            }
            if (r.data.size() >= replyLength) {
                reply.bytes = r.data;
                break;
            }
            if (host.cancelRequested()) {
                // The controller's answer to the cancel frame; whatever it is, the wait is over.
                link.read(replyLength, true);
                break;
            }
        }
        reply.cancelled = host.cancelRequested();
        return reply;
    }

} // namespace

quint32 SetupTrinket(Controller& controller, int slot, WaitHost& host)
{
    SerialLink& link = controller.link();
    link.write(frame({0x53, 0x16 + slot}));
    const WaitReply reply = waitForReply(link, 1, OpsTexts::enrolLabel(), host);
    if (reply.cancelled)
        return 0;
    if (reply.bytes.at(0) != Ack) {
        link.traceError(DeviceTexts::enrolError());
        throw DeviceError(DeviceTexts::enrolError());
    }
    return quint32(controller.ReadTriple(slot));
}

void sendCancelWait(Controller& controller)
{
    controller.link().write(frame({0x00, 0x00}));
}

TestOutcome TestTrinket(Controller& controller, WaitHost& host)
{
    SerialLink& link = controller.link();
    // The drain follows the request, as the controller expects; whatever it answers before a
    // button is pressed is thrown away with the stale input.
    link.write(frame({0x53, 0x12}));
    link.FlushPort();
    const WaitReply reply = waitForReply(link, 2, OpsTexts::testLabel(), host);
    TestOutcome outcome;
    if (reply.cancelled)
        return outcome;
    outcome.buttonByte = quint8(reply.bytes.at(0));
    outcome.kind = reply.bytes.at(1) == Ack ? TestOutcome::Pressed : TestOutcome::BadReply;
    if (outcome.kind == TestOutcome::BadReply)
        link.traceError(DeviceTexts::testError());
    return outcome;
}

QString pressedButtonText(quint8 buttonByte)
{
    const QString button = (buttonByte & 0x80) ? QStringLiteral("2") : QStringLiteral("1");
    return QStringLiteral("Нажата кнопка ") + button + QStringLiteral(" брелка ") + QString::number(buttonByte & 0x0F);
}

} // namespace DeviceOps
