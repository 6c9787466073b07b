// The link's Win32 half on a COM port that Wine maps to a Linux simulator's terminal.
// scripts/windows/wine-run starts the simulator for this test and tells where it is:
// QM407_TEST_PORT (the COM name), QM407_SIM_CONTROL (a file whose new lines the simulator reads
// as commands) and QM407_SIM_FRAMES (its frame log).
#include "device/controller.h"
#include "device/deviceerror.h"
#include "device/portsystem.h"
#include "device/seriallink.h"

#include <QFile>
#include <QtTest>

namespace {
QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

void tellSimulator(const QString& command)
{
    QFile control(env("QM407_SIM_CONTROL"));
    QVERIFY(control.open(QIODevice::Append));
    control.write(command.toLatin1() + '\n');
}

QString frames()
{
    QFile log(env("QM407_SIM_FRAMES"));
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}
} // namespace

class TestComPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void versionAndCellsOverTheLine();
    void quietLineIsNoFailure();
    void missingPortGivesSystemText();
    void secondOpenIsRefused();
    void vanishedSimulatorBreaksTheLink();

private:
    QString m_port;
    SerialLink m_link;
    Controller m_controller {m_link};
};

void TestComPort::initTestCase()
{
    m_port = env("QM407_TEST_PORT");
    if (m_port.isEmpty())
        QSKIP("no simulator mapped to a COM port (run through scripts/test-windows)");
    QString error;
    QVERIFY2(m_link.Open(m_port, &error), qPrintable(error));
}

void TestComPort::versionAndCellsOverTheLine()
{
    const Controller::VersionReply version = m_controller.readVersion();
    QVERIFY(version.complete);
    QCOMPARE(version.major, 1);
    QCOMPARE(version.minor, 0);
    QTRY_VERIFY(frames().contains(QLatin1String("tool> 53 10")));
    QTRY_VERIFY(frames().contains(QLatin1String("sim< 00 01 55")));

    tellSimulator(QStringLiteral("cell 200 165"));
    QTRY_COMPARE(m_controller.ReadByte(200), 165);
    m_controller.WriteByte(201, 0x3C);
    QCOMPARE(m_controller.ReadByte(201), 0x3C);
}

void TestComPort::quietLineIsNoFailure()
{
    const SerialLink::ReadResult r = m_link.readWithin(4, 150, true);
    QVERIFY(r.ok);
    QVERIFY(r.data.isEmpty());
    QCOMPARE(m_link.pendingBytes(), qint64(0));
    QVERIFY(!m_link.isBroken());
}

void TestComPort::missingPortGivesSystemText()
{
    SerialLink other;
    QString error;
    QVERIFY(!other.Open(QStringLiteral("COM9"), &error));
    const QString system = error.section(QStringLiteral("\n\n"), 0, 0);
    QVERIFY2(!system.isEmpty(), qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("\n\nУстройство: COM9.")), qPrintable(error));
    // Nothing of the Linux hints (groups, /dev) on Windows.
    QVERIFY(!error.contains(QLatin1String("/dev")));
    QVERIFY(!error.contains(QLatin1String("usermod")));
}

void TestComPort::secondOpenIsRefused()
{
    SerialLink second;
    QString error;
    if (second.Open(m_port, &error))
        QSKIP("Wine lets a second handle open a COM port that Windows holds exclusively");
    QVERIFY(error.startsWith(PortSystem::busyText()));
}

void TestComPort::vanishedSimulatorBreaksTheLink()
{
    tellSimulator(QStringLiteral("quit"));
    QTRY_VERIFY(!m_link.read(1, true).ok);
    QVERIFY(m_link.isBroken());
    QVERIFY_THROWS_EXCEPTION(DeviceError, m_link.FlushPort());
    m_link.Close();
    QVERIFY(!m_link.isOpen());
}

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_comport.moc"
