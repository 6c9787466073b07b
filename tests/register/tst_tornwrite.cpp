#include "register/datafile.h"
#include "register/recordstore.h"
#include "tests/support/fixtures.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

class TestTornWrite : public QObject
{
    Q_OBJECT

private slots:
    void killedSaverNeverLeavesAWrongRegister();
};

// A child keeps rewriting the data file with registers of 1 to 120 records (up to several
// pages) and is killed at random moments. What it leaves must load, at the next load, as one
// whole saved register: the last one finished or the one cut short, finished from its journal.
void TestTornWrite::killedSaverNeverLeavesAWrongRegister()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Trinket.dat"));
    const QString backup = path + QLatin1String(".bkd");
    {
        QVERIFY(Fixtures::writeFile(path, QByteArray()));
        RecordStore seed;
        DataFile file(seed, path, backup);
        QCOMPARE(file.LoadData(), 0);
        Fixtures::fillNumberedRegister(seed, 1);
        file.SaveData();
    }

    // TORN_KILLS raises the count for a longer soak by hand.
    const int kills = qMax(220, qEnvironmentVariableIntValue("TORN_KILLS"));
    constexpr quint32 Stride = 1000000;
    QRandomGenerator rng(407);
    int afterASave = 0;
    int refused = 0;
    for (int i = 1; i <= kills; ++i) {
        QProcess saver;
        const quint32 start = quint32(i) * Stride;
        saver.start(QStringLiteral(FILETOOL_PATH), {QStringLiteral("save-loop"), path, QString::number(start)});
        QVERIFY2(saver.waitForReadyRead(30000), "the saver did not start");
        QCOMPARE(saver.readLine().trimmed(), QByteArray("saving"));
        ::usleep(useconds_t(rng.bounded(15000)));
        ::kill(pid_t(saver.processId()), SIGKILL);
        QVERIFY(saver.waitForFinished(30000));

        RecordStore loaded;
        DataFile file(loaded, path, backup);
        if (file.LoadData() != 0) {
            const QByteArray bytes = Fixtures::readFile(path);
            QVERIFY2(!bytes.isEmpty() && bytes.at(0) == 0,
                     qPrintable(QStringLiteral("kill %1 left a damaged file").arg(i)));
            ++refused;
            // The next saver needs a file that loads: put a saved register back.
            RecordStore again;
            Fixtures::fillNumberedRegister(again, start);
            QVERIFY(Fixtures::writeFile(path, QByteArray()));
            DataFile repaired(again, path, backup);
            QCOMPARE(repaired.LoadData(), 0);
            Fixtures::fillNumberedRegister(again, start);
            repaired.SaveData();
            continue;
        }
        QVERIFY(loaded.count() > 0);
        const quint32 k = quint32(loaded.at(0).asInteger(Field::ID_RECORD));
        RecordStore expected;
        Fixtures::fillNumberedRegister(expected, k);
        QVERIFY2(loaded.rows() == expected.rows(), qPrintable(QStringLiteral("kill %1 left a torn register").arg(i)));
        if (k >= start && k < start + Stride)
            ++afterASave;
    }
    qInfo("%d kills: %d after at least one save, %d refused", kills, afterASave, refused);
    // Most kills must have hit a running save loop, or the test proves nothing.
    QVERIFY(afterASave > kills / 2);
    QCOMPARE(refused, 0);
}

QTEST_GUILESS_MAIN(TestTornWrite)
#include "tst_tornwrite.moc"
