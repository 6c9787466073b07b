#include "opsrig.h"

#include "apptest.h"
#include "auxwindow.h"
#include "formstorage.h"
#include "messagebox.h"
#include "mntavro.h"
#include "quitrequest.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtTest>

OpsRig::OpsRig(const std::vector<Record>& records)
    : m_previous(QDir::currentPath())
    , m_pollers(std::make_unique<QObject>())
{
    if (!folder.isValid() || !sim.start())
        return;
    QDir::setCurrent(folder.path());
    QDir().mkpath(folder.filePath(QStringLiteral("config")));
    TFormStorage::setStoreDirectory(folder.filePath(QStringLiteral("config")));
    QFile file(dataPath());
    const QByteArray bytes = AppTest::registerBytes(records);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return;
    file.close();

    QuitRequest::reset();
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
    m_window = std::make_unique<TFmTavro>();
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return;
    // The start-up port is "COM1"; the simulator's end is chosen as an installer types a port.
    m_window->SFPort->CBPort->setCurrentText(sim.slavePath());
    m_window->Close();
    MessageBoxSeam::clear();
    m_window->Open();
    m_ready = MessageBoxSeam::shown().isEmpty();
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
}

OpsRig::~OpsRig()
{
    m_pollers.reset();
    m_window.reset();
    MessageBoxSeam::clear();
    QDir::setCurrent(m_previous);
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
    poll([windowName, action] {
        auto* window = qobject_cast<TAuxWindow*>(QApplication::activeModalWidget());
        if (!window || window->objectName() != windowName || !window->isVisible())
            return false;
        action(window);
        return true;
    });
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
    QFile file(dataPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace OpsTest {

Record record(qint32 id, const QByteArray& consoleNumber, qint32 trinket, qint32 secondTrinket)
{
    Record r;
    r.setInteger(Field::ID_RECORD, id);
    r.setText(Field::PULT_NUM, consoleNumber);
    r.setText(Field::ADDRESS, "Address " + QByteArray::number(id));
    if (trinket) {
        r.setInteger(Field::ID_TRINK, trinket);
        r.setText(Field::CODE, "0X?10?1001");
    }
    if (secondTrinket) {
        r.setInteger(Field::ID_TRINK_D, secondTrinket);
        r.setText(Field::CODE_D, "1111111111");
    }
    return r;
}

} // namespace OpsTest
