#include "device/ops/trinket.h"

#include "device/controller.h"
#include "device/ops/opstexts.h"

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

    // Polls until the whole reply has come or the installer cancels. The controller answers
    // only once a button is pressed, so there is no time limit; the window stays live between
    // reads.
    WaitReply waitForReply(Controller& controller, const QString& label, WaitHost& host)
    {
        WaitScope scope(host, label);
        WaitReply reply;
        for (;;) {
            host.pump();
            reply.bytes = controller.pollWaitReply();
            if (!reply.bytes.isEmpty())
                break;
            if (host.cancelRequested()) {
                controller.takeCancelAnswer();
                break;
            }
        }
        reply.cancelled = host.cancelRequested();
        return reply;
    }

} // namespace

quint32 SetupTrinket(Controller& controller, int slot, WaitHost& host)
{
    controller.startEnrolment(slot);
    const WaitReply reply = waitForReply(controller, OpsTexts::enrolLabel(), host);
    if (reply.cancelled)
        return 0;
    controller.checkEnrolReply(reply.bytes);
    return quint32(controller.ReadTriple(slot));
}

TestOutcome TestTrinket(Controller& controller, WaitHost& host)
{
    controller.startTest();
    const WaitReply reply = waitForReply(controller, OpsTexts::testLabel(), host);
    TestOutcome outcome;
    if (reply.cancelled)
        return outcome;
    outcome.buttonByte = quint8(reply.bytes.at(0));
    outcome.kind = controller.checkTestReply(reply.bytes) ? TestOutcome::Pressed : TestOutcome::BadReply;
    return outcome;
}

QString pressedButtonText(quint8 buttonByte)
{
    const QString button = (buttonByte & 0x80) ? QStringLiteral("2") : QStringLiteral("1");
    return QStringLiteral("Нажата кнопка ") + button + QStringLiteral(" брелка ") + QString::number(buttonByte & 0x0F);
}

} // namespace DeviceOps
