#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "device/lowlatency.h"
#include "device/portsystem.h"
#include "device/seriallink.h"
#include "sim/simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The system's own text leads an open error; the device and a hint follow after a blank line.
QString systemPart(const QString& error)
{
    return error.section(QStringLiteral("\n\n"), 0, 0);
}

// The terminal the last low-latency request went to, and the answer it got.
QString latencyAskedOf;
bool latencyGranted = false;

bool grantLowLatency(int fd)
{
    latencyAskedOf = QString::fromLocal8Bit(::ttyname(fd));
    return latencyGranted = true;
}

bool askTheDriver(int fd)
{
    latencyAskedOf = QString::fromLocal8Bit(::ttyname(fd));
    return latencyGranted = LowLatency::request(fd);
}

// Runs FlushPort and gives back the message it threw, or an empty text.
QString flushError(SerialLink& link)
{
    try {
        link.FlushPort();
    } catch (const DeviceError& e) {
        return e.message();
    }
    return {};
}
} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void namesMapToDevices_data();
    void namesMapToDevices();
    void failedOpenGivesSystemText_data();
    void failedOpenGivesSystemText();
    void refusedAccessNamesTheOwningGroup();
    void closedPortFailsEveryRead();
    void reopeningTheSamePortWorks();
    void openAsksForLowLatency_data();
    void openAsksForLowLatency();
    void secondOpenerInProcessFails();
    void secondOpenerInAnotherProcessFails();
    void portLockedByOtherProgramFails();
    void emptyReadReturnsAfterItsTimeout_data();
    void emptyReadReturnsAfterItsTimeout();
    void readTakesWhatArrivedAndLeavesTheRest();
    void flushDrainsStaleInputAndEndsWithATimeout();
    void flushFollowsAChatteringLineUntilItStops();
    void flushGivesUpOnALineThatNeverStops();
    void flushEndingInSilenceSucceedsPastTheLimit();
    void floodingPeerCannotGrowTheBuffer();
    void vanishedPeerBreaksTheLinkUntilReopened();
    void vanishedPeerDoesNotBusyTheEventLoop();

private:
    std::unique_ptr<Qm407Simulator> m_sim;
    std::unique_ptr<SerialLink> m_link;
};

void TestSerialLink::init()
{
    m_sim = std::make_unique<Qm407Simulator>();
    QVERIFY(m_sim->start());
    m_link = std::make_unique<SerialLink>();
}

void TestSerialLink::cleanup()
{
    m_link.reset();
    m_sim.reset();
}

void TestSerialLink::namesMapToDevices_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("first COM") << "COM1"
                               << "/dev/ttyS0";
    QTest::newRow("ninth COM, not in the list") << "COM9"
                                                << "/dev/ttyS8";
    QTest::newRow("two digits, lower case") << "com12"
                                            << "/dev/ttyS11";
    QTest::newRow("USB adapter") << "ttyUSB0"
                                 << "/dev/ttyUSB0";
    QTest::newRow("absolute path") << "/dev/pts/7"
                                   << "/dev/pts/7";
    QTest::newRow("relative path") << "x/ttyQ"
                                   << "x/ttyQ";
    QTest::newRow("COM0 is no COM port") << "COM0"
                                         << "/dev/COM0";
    QTest::newRow("COM without number") << "COM"
                                        << "/dev/COM";
    QTest::newRow("empty") << ""
                           << "";
}

void TestSerialLink::namesMapToDevices()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(SerialLink::systemPortName(name), path);
}

void TestSerialLink::failedOpenGivesSystemText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("hint");
    const QString unplugged = QStringLiteral("возможно, адаптер не подключен");
    QTest::newRow("empty name") << "" << systemText(ENOENT) << QString() << QString();
    QTest::newRow("missing /dev name") << "ttyQM407missing" << systemText(ENOENT) << "/dev/ttyQM407missing"
                                       << unplugged;
    QTest::newRow("missing path") << "/nonexistent/ttyX" << systemText(ENOENT) << "/nonexistent/ttyX" << unplugged;
    QTest::newRow("not a serial device") << "/dev/null" << systemText(ENOTTY) << "/dev/null" << QString();
    QTest::newRow("a directory") << "/dev" << systemText(EISDIR) << "/dev" << QString();
    if (!QFile::exists(QStringLiteral("/dev/ttyS8")))
        QTest::newRow("COM9 as typed") << "COM9" << systemText(ENOENT) << "/dev/ttyS8" << unplugged;
}

void TestSerialLink::failedOpenGivesSystemText()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, device);
    QFETCH(QString, hint);
    QString error;
    QVERIFY(!m_link->Open(name, &error));
    if (device.isEmpty()) {
        QCOMPARE(error, text); // nothing to name
    } else {
        QCOMPARE(systemPart(error), text);
        QVERIFY2(error.contains(QStringLiteral("\n\nУстройство: ") + device + QLatin1Char('.')), qPrintable(error));
        QVERIFY2(hint.isEmpty() ? !error.contains(QStringLiteral("адаптер")) : error.contains(hint), qPrintable(error));
    }
    QVERIFY(!m_link->isOpen());
    QVERIFY(!m_link->read(1).ok);

    // Trying again with a good name works: nothing of the failure sticks.
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
    QVERIFY(m_link->read(1).ok);
}

// Root opens everything, so the refusal itself is given: the hint reads the device node.
void TestSerialLink::refusedAccessNamesTheOwningGroup()
{
    const group* dialout = ::getgrnam("dialout");
    if (!dialout)
        QSKIP("no group dialout here");
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB7"));
    QFile file(node);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QByteArray local = QFile::encodeName(node);
    QCOMPARE(::chown(local.constData(), uid_t(-1), dialout->gr_gid), 0);
    QCOMPARE(::chmod(local.constData(), 0660), 0);

    QString help = PortSystem::openFailureHelp(node, EACCES);
    QVERIFY2(help.startsWith(QStringLiteral("\n\nУстройство: ") + node + QLatin1Char('.')), qPrintable(help));
    QVERIFY2(help.contains(QStringLiteral("группы \"dialout\"")), qPrintable(help));
    QVERIFY2(help.contains(QStringLiteral("sudo usermod -aG dialout $USER")), qPrintable(help));
    QVERIFY2(help.contains(QStringLiteral("выйдите из системы и войдите снова")), qPrintable(help));

    // A group that may not write to the device is no way in.
    QCOMPARE(::chmod(local.constData(), 0640), 0);
    help = PortSystem::openFailureHelp(node, EACCES);
    QVERIFY2(!help.contains(QStringLiteral("dialout")), qPrintable(help));
    QVERIFY2(help.contains(QStringLiteral("нет прав на чтение и запись")), qPrintable(help));
}

void TestSerialLink::closedPortFailsEveryRead()
{
    QVERIFY(!m_link->read(1).ok);
    m_link->write(QByteArray("S\x10", 2)); // must neither crash nor reach anyone
    QCOMPARE(flushError(*m_link), DeviceTexts::portReadError());

    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_link->Close();
    m_link->Close();
    QVERIFY(!m_link->isOpen());
    QVERIFY(!m_link->read(3).ok);
    QCOMPARE(flushError(*m_link), DeviceTexts::portReadError());
    QVERIFY(m_sim->received().isEmpty());
}

void TestSerialLink::reopeningTheSamePortWorks()
{
    // Closing the port window always closes and reopens, usually with the same name.
    QString error;
    m_sim->setCell(2, 0x77);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
        m_link->write(QByteArray("S\x14\x02", 3));
        QCOMPARE(m_link->read(2).data, QByteArray("\x77U", 2));
        m_link->Close();
    }
    // Open on an open link starts over instead of failing on its own lock.
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
    QVERIFY(m_link->read(1).ok);
}

void TestSerialLink::openAsksForLowLatency_data()
{
    QTest::addColumn<bool>("driverGrants");
    QTest::newRow("granted") << true;
    QTest::newRow("refused, as a pseudo-terminal's driver does") << false;
}

void TestSerialLink::openAsksForLowLatency()
{
    QFETCH(bool, driverGrants);
    LowLatency::onOpen = driverGrants ? &grantLowLatency : &askTheDriver;
    const auto restore = qScopeGuard([] { LowLatency::onOpen = &LowLatency::request; });
    latencyAskedOf.clear();

    QString error;
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
    QCOMPARE(latencyAskedOf, m_sim->slavePath());
    QCOMPARE(latencyGranted, driverGrants);
    // Either way the port is open and carries an exchange.
    m_link->write(QByteArray("S\x10", 2));
    QCOMPARE(m_link->read(3).data, QByteArray("\x00\x01U", 3));
}

void TestSerialLink::secondOpenerInProcessFails()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));

    SerialLink second;
    QVERIFY(!second.Open(m_sim->slavePath(), &error));
    QCOMPARE(systemPart(error), systemText(EBUSY));
    QVERIFY(!second.isOpen());

    // The first opener is untouched by the refused one.
    m_sim->setCell(3, 0x5A);
    m_link->write(QByteArray("S\x14\x03", 3));
    QCOMPARE(m_link->read(2).data, QByteArray("\x5AU", 2));

    m_link->Close();
    QVERIFY2(second.Open(m_sim->slavePath(), &error), qPrintable(error));
}

void TestSerialLink::secondOpenerInAnotherProcessFails()
{
    const QString holder = QCoreApplication::applicationDirPath() + QStringLiteral("/portholder");
    QProcess other;
    other.start(holder, {m_sim->slavePath()});
    QVERIFY(other.waitForReadyRead(10000));
    QCOMPARE(other.readLine().trimmed(), QByteArray("open"));

    QString error;
    QVERIFY(!m_link->Open(m_sim->slavePath(), &error));
    QCOMPARE(systemPart(error), systemText(EBUSY));

    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(10000));
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));

    // And the other way round: while we hold it, the other process is refused.
    QProcess refused;
    refused.start(holder, {m_sim->slavePath()});
    QVERIFY(refused.waitForReadyRead(10000));
    QCOMPARE(QString::fromLocal8Bit(refused.readLine().trimmed()), QStringLiteral("failed: ") + systemText(EBUSY));
    // (portholder prints the first line only)
    refused.closeWriteChannel();
    QVERIFY(refused.waitForFinished(10000));
}

void TestSerialLink::portLockedByOtherProgramFails()
{
    // A program that knows nothing of Qt's lock files but locks the device itself; the tty's
    // own exclusive mode would not stop us when running as root.
    const QByteArray path = m_sim->slavePath().toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    QString error;
    QVERIFY(!m_link->Open(m_sim->slavePath(), &error));
    QCOMPARE(systemPart(error), systemText(EBUSY));
    QVERIFY(!m_link->isOpen());

    ::close(fd);
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
}

void TestSerialLink::emptyReadReturnsAfterItsTimeout_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("1 byte, 110 ms") << 1;
    QTest::newRow("2 bytes, 120 ms") << 2;
    QTest::newRow("3 bytes, 130 ms") << 3;
    QTest::newRow("5 bytes, 150 ms") << 5;
}

void TestSerialLink::emptyReadReturnsAfterItsTimeout()
{
    QFETCH(int, count);
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));

    QElapsedTimer timer;
    timer.start();
    const SerialLink::ReadResult r = m_link->read(count);
    const qint64 elapsed = timer.elapsed();

    QVERIFY(r.ok);
    QVERIFY(r.data.isEmpty());
    const int timeout = SerialLink::readTimeoutMs(count);
    QCOMPARE(timeout, 10 * count + 100);
    QVERIFY2(elapsed >= timeout - 2, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < timeout + 400, qPrintable(QString::number(elapsed)));
}

void TestSerialLink::readTakesWhatArrivedAndLeavesTheRest()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->inject(QByteArray("abc"));

    QElapsedTimer timer;
    timer.start();
    SerialLink::ReadResult r = m_link->read(2);
    QVERIFY(r.ok);
    QCOMPARE(r.data, QByteArray("ab"));
    QVERIFY2(timer.elapsed() < SerialLink::readTimeoutMs(2), "a complete read must not wait for its time-out");

    // Fewer bytes than asked is still a successful read.
    r = m_link->read(2);
    QVERIFY(r.ok);
    QCOMPARE(r.data, QByteArray("c"));
}

void TestSerialLink::flushDrainsStaleInputAndEndsWithATimeout()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->inject(QByteArray("stale reply"));
    QTRY_VERIFY(m_sim->sent().size() == 11);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(flushError(*m_link), QString());
    QVERIFY(timer.elapsed() >= SerialLink::readTimeoutMs(1) - 2);
    const SerialLink::ReadResult r = m_link->read(1);
    QVERIFY(r.ok);
    QVERIFY(r.data.isEmpty());
}

void TestSerialLink::flushFollowsAChatteringLineUntilItStops()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->setChatter(20);
    std::thread quieten([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        m_sim->setChatter(0);
    });

    QElapsedTimer timer;
    timer.start();
    const QString message = flushError(*m_link);
    const qint64 elapsed = timer.elapsed();
    quieten.join();

    QCOMPARE(message, QString());
    QVERIFY2(elapsed >= 600, qPrintable(QString::number(elapsed)));
    QVERIFY(m_link->read(1).data.isEmpty());
}

void TestSerialLink::flushGivesUpOnALineThatNeverStops()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->setChatter(10);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(flushError(*m_link), DeviceTexts::portReadError());
    QVERIFY(timer.elapsed() >= SerialLink::FlushLimitMs);
    QVERIFY(timer.elapsed() < SerialLink::FlushLimitMs + 3000);
}

void TestSerialLink::flushEndingInSilenceSucceedsPastTheLimit()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    // The closing silent read alone outlasts this limit; the line fell silent all the same.
    m_link->setFlushLimitMs(20);
    m_sim->inject(QByteArray("x"));
    QTRY_COMPARE(m_link->pendingBytes(), qint64(1));
    QCOMPARE(flushError(*m_link), QString());
    QCOMPARE(m_link->pendingBytes(), qint64(0));
}

void TestSerialLink::floodingPeerCannotGrowTheBuffer()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->inject(QByteArray(256 * 1024, 'x'));

    // The port's notifier takes in all it may of the flood, and no more.
    QTRY_COMPARE(m_link->pendingBytes(), SerialLink::ReadBufferSize);
    QCoreApplication::processEvents();
    QCOMPARE(m_link->pendingBytes(), SerialLink::ReadBufferSize);

    // Reading on keeps it bounded and the link usable.
    for (int i = 0; i < 50; ++i) {
        const SerialLink::ReadResult r = m_link->read(100);
        QVERIFY(r.ok);
        QCOMPARE(r.data.size(), 100);
        QCoreApplication::processEvents();
        QVERIFY(m_link->pendingBytes() <= SerialLink::ReadBufferSize);
    }
}

void TestSerialLink::vanishedPeerBreaksTheLinkUntilReopened()
{
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    QVERIFY(m_link->read(1).ok);

    m_sim->stop(); // the adapter is pulled
    QVERIFY(m_link->isOpen());
    QVERIFY(!m_link->read(1).ok);
    QVERIFY(m_link->isBroken());
    QVERIFY(!m_link->read(2).ok);
    QCOMPARE(flushError(*m_link), DeviceTexts::portReadError());

    // Only a reopen clears it; a pseudo-terminal never comes back, so take a fresh one.
    Qm407Simulator replacement;
    QVERIFY(replacement.start());
    QVERIFY2(m_link->Open(replacement.slavePath(), &error), qPrintable(error));
    QVERIFY(!m_link->isBroken());
    replacement.setCell(1, 0x11);
    m_link->write(QByteArray("S\x14\x01", 3));
    QCOMPARE(m_link->read(2).data, QByteArray("\x11U", 2));
}

void TestSerialLink::vanishedPeerDoesNotBusyTheEventLoop()
{
    // The tool's window keeps running its event loop after an adapter is pulled; the dead
    // port must not keep it spinning.
    QString error;
    QVERIFY(m_link->Open(m_sim->slavePath(), &error));
    m_sim->stop();

    const std::clock_t before = std::clock();
    QTest::qWait(500);
    const double cpuMs = double(std::clock() - before) * 1000.0 / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 250, qPrintable(QString::number(cpuMs)));
    QVERIFY(!m_link->read(1).ok);
    QVERIFY(m_link->isOpen());
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
