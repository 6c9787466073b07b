#include "device/controller.h"
#include "device/seriallink.h"

#include <QProcess>
#include <QtTest>

// The standalone simulator, driven as a person would: options, the printed path, typed commands.
class TestSimTool : public QObject
{
    Q_OBJECT

private slots:
    void helpExplainsTheCommands();
    void badOptionsAreRefused();
    void servesTheChosenModelAndTypedPresses();
};

void TestSimTool::helpExplainsTheCommands()
{
    QProcess sim;
    sim.start(QStringLiteral(QM407_SIM), {QStringLiteral("--help")});
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    const QByteArray help = sim.readAllStandardOutput();
    for (const char* word : {"--model", "--version", "press", "test", "cell", "quit", "button '1'", "press 1B2C33"})
        QVERIFY2(help.contains(word), word);
}

void TestSimTool::badOptionsAreRefused()
{
    for (const QStringList& args : {QStringList {QStringLiteral("--model"), QStringLiteral("QM999")},
                                    QStringList {QStringLiteral("--version"), QStringLiteral("one")},
                                    QStringList {QStringLiteral("--model"), QStringLiteral("QM407M"),
                                                 QStringLiteral("--version"), QStringLiteral("1.2")},
                                    QStringList {QStringLiteral("--version"), QStringLiteral("2.0")}}) {
        QProcess sim;
        sim.start(QStringLiteral(QM407_SIM), args);
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 2);
    }
}

void TestSimTool::servesTheChosenModelAndTypedPresses()
{
    QProcess sim;
    sim.start(QStringLiteral(QM407_SIM),
              {QStringLiteral("--model"), QStringLiteral("QM407M"), QStringLiteral("--version"), QStringLiteral("3.5"),
               QStringLiteral("--log")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString path = QString::fromLocal8Bit(sim.readLine().trimmed());
    QVERIFY(path.startsWith(QLatin1Char('/')));

    SerialLink link;
    QString error;
    QVERIFY2(link.Open(path, &error), qPrintable(error));
    Controller controller(link);
    QCOMPARE(controller.DefineModel(), Model::QM407M);

    sim.write("cell 0x20 7\n");
    QTRY_COMPARE(controller.ReadByte(0x20), 7);

    link.write(QByteArray("S\x16", 2));
    sim.write("press 0a0b0c\n");
    QVERIFY(sim.waitForReadyRead(10000));
    QByteArray answer;
    for (int i = 0; i < 20 && answer.isEmpty(); ++i)
        answer = link.read(1).data;
    QCOMPARE(answer, QByteArray("U"));
    QCOMPARE(controller.ReadTriple(0), 0x0A0B0C);

    sim.write("quit\n");
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(sim.readAllStandardError().contains("tool> 53 10"));
}

QTEST_GUILESS_MAIN(TestSimTool)
#include "tst_simtool.moc"
