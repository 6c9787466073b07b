#include "tests/support/opsrig.h"

#include "app/messagebox.h"
#include "app/mntavro.h"

#include <QComboBox>
#include <QTimer>
#include <QtTest>

OpsRig::OpsRig(const std::vector<Record>& records)
    : m_pollers(std::make_unique<QObject>())
{
    if (!folder.isValid() || !sim.start())
        return;
    if (!AppTest::writeFile(dataPath(), AppTest::registerBytes(records)))
        return;

    m_window = AppTest::makeWindow();
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return;
    // The start-up port is "COM1"; the simulator's end is chosen as an installer types a port.
    m_window->SFPort->CBPort->setCurrentText(sim.slavePath());
    m_window->Close();
    MessageBoxSeam::clear();
    m_window->Open();
    // A port that does not open says so in an error box.
    m_ready = MessageBoxSeam::shown().isEmpty();
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
}

OpsRig::~OpsRig()
{
    m_pollers.reset();
    AppTest::dropPendingModalActions();
    m_window.reset();
    MessageBoxSeam::clear();
}

QString OpsRig::dataPath() const
{
    return folder.filePath(QStringLiteral("Trinket.dat"));
}

void OpsRig::poll(std::function<bool()> step)
{
    auto* timer = new QTimer(m_pollers.get());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        if (step()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void OpsRig::onModal(const QString& windowName, std::function<void(TAuxWindow*)> action)
{
    AppTest::onModal(windowName, std::move(action));
}

void OpsRig::pressTrinkets(const QList<quint32>& codes, std::function<void()> during)
{
    auto left = std::make_shared<QList<quint32>>(codes);
    poll([this, left, during] {
        const int command = sim.waitingCommand();
        if (command < 0x16 || command > 0x18)
            return false;
        if (during)
            during();
        sim.pressTrinket(left->takeFirst());
        return left->isEmpty();
    });
}

void OpsRig::pressTestButton(quint8 buttonByte, quint8 ack)
{
    poll([this, buttonByte, ack] {
        if (sim.waitingCommand() != 0x12)
            return false;
        sim.pressTestButton(buttonByte, ack);
        return true;
    });
}

QByteArray OpsRig::dataBytes() const
{
    return AppTest::readFile(dataPath());
}

namespace OpsTest {

Record record(qint32 id, const QByteArray& consoleNumber, qint32 trinket, qint32 secondTrinket)
{
    Record r = AppTest::record(id, consoleNumber, "Address " + QByteArray::number(id), trinket ? trinket : -1);
    if (trinket)
        r.setText(Field::CODE, "0X?10?1001");
    if (secondTrinket) {
        r.setInteger(Field::ID_TRINK_D, secondTrinket);
        r.setText(Field::CODE_D, "1111111111");
    }
    return r;
}

} // namespace OpsTest
