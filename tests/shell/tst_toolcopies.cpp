#include "register/datafile.h"
#include "register/recordstore.h"
#include "sim/simulator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

// Copies of the real tool started side by side, as an installer would start them: the later
// ones end at once with exit code 0 and leave the first one's files alone.

namespace {
constexpr int Patience = 30000;

// QProcess::waitForFinished answers false for a process that has already ended.
bool ended(QProcess* process)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(Patience);
}
const QString Marker = QStringLiteral("{DE93EB52-9B04-4347-BDA5-B46D457C1F86}");

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
} // namespace

class TestToolCopies final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondStartEndsAndLeavesTheFilesAlone();
    void startFromAnotherFolderUnderAnotherNameEndsToo();
    void nextStartAfterTheFirstWasEnded_data();
    void nextStartAfterTheFirstWasEnded();
    void simultaneousStartsLeaveExactlyOne();
    void terminationTakesTheOrderlyWayOut();
    void terminationBeforeTheFirstShowingStoresNothing();

private:
    QProcess* start(const QString& folder, const QString& program = QStringLiteral(QM407_TOOL));
    bool markerHeld() const;
    bool reached(QProcess* copy, const QByteArray& milestone);
    void waitUntilShown(QProcess* copy);
    QByteArray snapshot() const;
    void waitUntilFirst(QProcess* copy);
    void expectQuickEnd(QProcess* copy);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_work;
    std::vector<std::unique_ptr<QProcess>> m_copies;
    std::map<QProcess*, QByteArray> m_errors;
    std::unique_ptr<Qm407Simulator> m_controller;
    QString m_settings;
};

void TestToolCopies::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char* sub : {"work", "other", "runtime", "config"})
        QVERIFY(QDir(m_dir->path()).mkdir(QString::fromLatin1(sub)));
    QVERIFY(QFile::setPermissions(m_dir->filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    m_work = m_dir->filePath(QStringLiteral("work"));

    // A port that opens, stored for the copies: a failing one would stop each start at its
    // error box, and a real one is shared with whatever else runs on the machine.
    m_controller = std::make_unique<Qm407Simulator>();
    QVERIFY(m_controller->start());
    m_settings = m_dir->filePath(QStringLiteral("config/Pralvek/TavroQM407.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(m_settings).path()));
    QFile store(m_settings);
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[TFmTavro]\nFormVersion=0\nOpDelay1_Value=12\nCBPort_ItemIndex=-1\nCBPort_Text="
                + QFile::encodeName(m_controller->slavePath()) + "\n");
    store.close();

    // A register with one record, and its backup, for the first copy to hold.
    RecordStore records;
    DataFile data(records, m_work + QStringLiteral("/Trinket.dat"), m_work + QStringLiteral("/Trinket.bkd"));
    QCOMPARE(data.createAnew().error(), QString());
    data.release();
    QVERIFY(QFile::copy(data.dataPath(), data.backupPath()));
}

void TestToolCopies::cleanup()
{
    for (auto& copy : m_copies) {
        if (copy->state() != QProcess::NotRunning) {
            copy->kill();
            copy->waitForFinished(Patience);
        }
    }
    m_copies.clear();
    m_controller.reset();
    m_dir.reset();
}

QProcess* TestToolCopies::start(const QString& folder, const QString& program)
{
    auto copy = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    // The tool's milestones on standard error tell how far it has come.
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qm407.lifecycle.info=true"));
    copy->setProcessEnvironment(environment);
    copy->setWorkingDirectory(folder);
    copy->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    QProcess* raw = copy.get();
    connect(raw, &QProcess::readyReadStandardError, this, [this, raw] {
        const QByteArray text = raw->readAllStandardError();
        m_errors[raw] += text;
        std::fputs(text.constData(), stderr); // still visible in the test's log
    });
    copy->start(program, {});
    m_copies.push_back(std::move(copy));
    return m_copies.back().get();
}

// Whether some process holds the marker; taking it for a moment is harmless, since a copy
// starting meanwhile waits for it.
bool TestToolCopies::markerHeld() const
{
    const QByteArray path
        = QFile::encodeName(m_dir->filePath(QStringLiteral("runtime/") + Marker + QStringLiteral(".lock")));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool TestToolCopies::reached(QProcess* copy, const QByteArray& milestone)
{
    return m_errors[copy].contains(milestone);
}

// The settings store restores, and so may save, only from the first showing on.
void TestToolCopies::waitUntilShown(QProcess* copy)
{
    QTRY_VERIFY_WITH_TIMEOUT(reached(copy, "main window shown") || copy->state() == QProcess::NotRunning, Patience);
    QCOMPARE(copy->state(), QProcess::Running);
}

QByteArray TestToolCopies::snapshot() const
{
    QByteArray all;
    for (const QString& name : QDir(m_work).entryList(QDir::Files, QDir::Name))
        all += name.toUtf8() + ':' + contents(m_work + QLatin1Char('/') + name).toHex() + '\n';
    return all;
}

void TestToolCopies::waitUntilFirst(QProcess* copy)
{
    QVERIFY(copy->waitForStarted(Patience));
    QTRY_VERIFY_WITH_TIMEOUT(markerHeld() || copy->state() == QProcess::NotRunning, Patience);
    QCOMPARE(copy->state(), QProcess::Running);
}

void TestToolCopies::expectQuickEnd(QProcess* copy)
{
    QVERIFY(ended(copy));
    QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
    QCOMPARE(copy->exitCode(), 0);
}

void TestToolCopies::secondStartEndsAndLeavesTheFilesAlone()
{
    const QString settings = m_settings;
    QProcess* first = start(m_work);
    waitUntilFirst(first);
    waitUntilShown(first);
    const QByteArray before = snapshot();
    const QByteArray settingsBefore = contents(settings);

    expectQuickEnd(start(m_work));
    QCOMPARE(snapshot(), before);
    QCOMPARE(contents(settings), settingsBefore);
    QCOMPARE(first->state(), QProcess::Running);
}

void TestToolCopies::startFromAnotherFolderUnderAnotherNameEndsToo()
{
    QProcess* first = start(m_work);
    waitUntilFirst(first);
    const QString other = m_dir->filePath(QStringLiteral("other"));
    const QString renamed = m_dir->filePath(QStringLiteral("installer"));
    QVERIFY(QFile::link(QStringLiteral(QM407_TOOL), renamed));
    expectQuickEnd(start(other, renamed));
    // It started nothing there either: no data file of its own.
    QVERIFY(QDir(other).entryList(QDir::Files).isEmpty());
    QCOMPARE(first->state(), QProcess::Running);
}

void TestToolCopies::nextStartAfterTheFirstWasEnded_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("terminated") << int(SIGTERM);
    QTest::newRow("killed") << int(SIGKILL);
}

void TestToolCopies::nextStartAfterTheFirstWasEnded()
{
    QFETCH(int, signal);
    QProcess* first = start(m_work);
    waitUntilFirst(first);
    ::kill(pid_t(first->processId()), signal);
    QVERIFY(ended(first));

    QProcess* next = start(m_work);
    waitUntilFirst(next);
    waitUntilShown(next);
    expectQuickEnd(start(m_dir->filePath(QStringLiteral("other"))));
}

void TestToolCopies::simultaneousStartsLeaveExactlyOne()
{
    constexpr int Copies = 4;
    QList<QProcess*> copies;
    for (int i = 0; i < Copies; ++i)
        copies << start(i % 2 ? m_work : m_dir->filePath(QStringLiteral("other")));
    // All but one end by themselves.
    QDeadlineTimer deadline(Patience);
    auto running = [&copies] {
        int count = 0;
        for (QProcess* copy : copies)
            count += copy->state() != QProcess::NotRunning;
        return count;
    };
    while (running() > 1 && !deadline.hasExpired())
        QTest::qWait(50);
    QCOMPARE(running(), 1);
    // The one left goes on to its first window (the recovery window where it found no data
    // file), and stays alone.
    for (QProcess* copy : copies) {
        if (copy->state() != QProcess::NotRunning) {
            QTRY_VERIFY_WITH_TIMEOUT(reached(copy, "main window shown") || reached(copy, "showing SFMakeFile"),
                                     Patience);
        }
    }
    QCOMPARE(running(), 1);
    QVERIFY(markerHeld());
    for (QProcess* copy : copies) {
        if (copy->state() == QProcess::NotRunning) {
            QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy->exitCode(), 0);
        }
    }
}

void TestToolCopies::terminationTakesTheOrderlyWayOut()
{
    const QString backup = m_work + QStringLiteral("/Trinket.bkd");
    QVERIFY(QFile::remove(backup));
    QProcess* first = start(m_work);
    waitUntilFirst(first);
    waitUntilShown(first);
    ::kill(pid_t(first->processId()), SIGTERM);
    expectQuickEnd(first);
    // As after "Выход": the backup is refreshed and the options are stored.
    QCOMPARE(contents(backup), contents(m_work + QStringLiteral("/Trinket.dat")));
    QVERIFY(contents(m_settings).contains("NormPos="));
}

void TestToolCopies::terminationBeforeTheFirstShowingStoresNothing()
{
    // No data file: the recovery window comes before the main window is ever shown.
    const QString data = m_work + QStringLiteral("/Trinket.dat");
    const QString backup = m_work + QStringLiteral("/Trinket.bkd");
    QVERIFY(QFile::remove(data));
    const QByteArray backupBefore = contents(backup);
    const QByteArray settingsBefore = contents(m_settings);
    QProcess* first = start(m_work);
    waitUntilFirst(first);
    QTRY_VERIFY_WITH_TIMEOUT(reached(first, "showing SFMakeFile") || first->state() == QProcess::NotRunning, Patience);
    ::kill(pid_t(first->processId()), SIGTERM);
    expectQuickEnd(first);
    QVERIFY(!reached(first, "main window shown"));
    // Nothing was restored, so nothing is stored; no data file held, so no backup made.
    QCOMPARE(contents(m_settings), settingsBefore);
    QVERIFY(!QFile::exists(data));
    QCOMPARE(contents(backup), backupBefore);
}

QTEST_GUILESS_MAIN(TestToolCopies)
#include "tst_toolcopies.moc"
