#include "singleappinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

// The guard between real processes: a small probe program holds nothing but the guard, so
// the copies' decisions, hand-overs and crashes can be watched from here. The test process
// itself plays the first copy where a misbehaving peer has to be staged.

namespace {
const QString Marker = QStringLiteral("{DE93EB52-9B04-4347-BDA5-B46D457C1F86}");
constexpr int Patience = 20000;

// QProcess::waitForFinished answers false for a process that has already ended.
bool ended(QProcess* process)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(Patience);
}

QString probePath()
{
    return QStringLiteral(QM407_GUARD_PROBE);
}

QByteArray frame(const QByteArray& text)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(quint32(text.size() + 1), bytes.data());
    return bytes + text + '\0';
}
} // namespace

class TestSingleInstance final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondCopyHandsOverItsCommandLineAndEnds();
    void copiesFromOtherFoldersAndNamesExcludeEachOther();
    void nextStartAfterTheFirstEnded_data();
    void nextStartAfterTheFirstEnded();
    void simultaneousStartsLeaveExactlyOne();
    void firstCopyShrugsOffBadPeers();
    void oversizedHandOverIsRefused();
    void unsafeRuntimeFolderIsNotUsed();
    void otherUsersNeitherReceiveNorBlock();
    void markerWithBackslashIsRefused();

private:
    QProcess* start(const QStringList& arguments = {}, const QString& program = probePath(),
                    const QString& folder = QString());
    static QByteArray waitForLine(QProcess* process);
    // Every command line the copy printed so far.
    QList<QByteArray> received(QProcess* process);
    void finish(QProcess* process);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_runtime;
    QProcessEnvironment m_environment;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QHash<QProcess*, QList<QByteArray>> m_received;
};

void TestSingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_runtime = m_dir->filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(m_runtime));
    QVERIFY(QFile::setPermissions(m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
    qputenv("TMPDIR", QFile::encodeName(m_dir->path()));
    qputenv("HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("home"))));
    m_environment = QProcessEnvironment::systemEnvironment();
}

void TestSingleInstance::cleanup()
{
    for (auto& process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(Patience);
        }
    }
    m_processes.clear();
    m_received.clear();
    m_dir.reset();
}

QProcess* TestSingleInstance::start(const QStringList& arguments, const QString& program, const QString& folder)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(m_environment);
    process->setWorkingDirectory(folder.isEmpty() ? m_dir->path() : folder);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

QByteArray TestSingleInstance::waitForLine(QProcess* process)
{
    QDeadlineTimer deadline(Patience);
    while (!process->canReadLine() && !deadline.hasExpired()) {
        if (!process->waitForReadyRead(100) && process->state() == QProcess::NotRunning && !process->canReadLine())
            break;
    }
    return process->readLine().trimmed();
}

QList<QByteArray> TestSingleInstance::received(QProcess* process)
{
    QList<QByteArray>& lines = m_received[process];
    while (process->canReadLine()) {
        const QByteArray line = process->readLine().trimmed();
        if (line.startsWith("received "))
            lines << QByteArray::fromHex(line.mid(9));
    }
    return lines;
}

// Ends a first copy the orderly way and checks that it went quietly.
void TestSingleInstance::finish(QProcess* process)
{
    process->closeWriteChannel();
    QVERIFY(ended(process));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

void TestSingleInstance::secondCopyHandsOverItsCommandLineAndEnds()
{
    QProcess* first = start();
    QCOMPARE(waitForLine(first), QByteArray("first"));

    const QStringList arguments{QStringLiteral("--port"), QStringLiteral("two words"), QStringLiteral("Пульт")};
    QProcess* second = start(arguments);
    QCOMPARE(waitForLine(second), QByteArray("second"));
    QVERIFY(ended(second));
    QCOMPARE(second->exitCode(), 0);

    // The whole command line as one text, program path first; the first copy merely keeps it.
    QTRY_COMPARE_WITH_TIMEOUT(received(first).size(), 1, Patience);
    QCOMPARE(received(first), QList<QByteArray>{(probePath() + QStringLiteral(" --port two words Пульт")).toLocal8Bit()});
    QCOMPARE(first->state(), QProcess::Running);
    finish(first);
}

void TestSingleInstance::copiesFromOtherFoldersAndNamesExcludeEachOther()
{
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    const QString renamed = elsewhere + QStringLiteral("/another-name");
    QVERIFY(QFile::copy(probePath(), renamed));
    QVERIFY(QFile::setPermissions(renamed, QFile::permissions(probePath())));

    QProcess* first = start({}, renamed, elsewhere);
    QCOMPARE(waitForLine(first), QByteArray("first"));
    QProcess* second = start({}, probePath(), QDir::rootPath());
    QCOMPARE(waitForLine(second), QByteArray("second"));
    QVERIFY(ended(second));
    QCOMPARE(second->exitCode(), 0);
    finish(first);
}

void TestSingleInstance::nextStartAfterTheFirstEnded_data()
{
    QTest::addColumn<bool>("crash");
    QTest::newRow("orderly end") << false;
    QTest::newRow("killed") << true;
}

void TestSingleInstance::nextStartAfterTheFirstEnded()
{
    QFETCH(bool, crash);
    QProcess* first = start();
    QCOMPARE(waitForLine(first), QByteArray("first"));
    if (crash) {
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(ended(first));
        QCOMPARE(first->exitStatus(), QProcess::CrashExit);
    } else {
        finish(first);
    }

    QProcess* next = start();
    QCOMPARE(waitForLine(next), QByteArray("first"));
    // ...and it listens again: a further copy reaches it.
    QProcess* third = start({QStringLiteral("again")});
    QCOMPARE(waitForLine(third), QByteArray("second"));
    QVERIFY(ended(third));
    QTRY_COMPARE_WITH_TIMEOUT(received(next).size(), 1, Patience);
    finish(next);
}

void TestSingleInstance::simultaneousStartsLeaveExactlyOne()
{
    constexpr int Copies = 6;
    QList<QProcess*> copies;
    for (int i = 0; i < Copies; ++i)
        copies << start({QString::number(i)});
    int firsts = 0;
    QProcess* survivor = nullptr;
    for (QProcess* copy : copies) {
        const QByteArray verdict = waitForLine(copy);
        QVERIFY2(verdict == "first" || verdict == "second", verdict.constData());
        if (verdict == "first") {
            ++firsts;
            survivor = copy;
        } else {
            QVERIFY(ended(copy));
            QCOMPARE(copy->exitCode(), 0);
        }
    }
    QCOMPARE(firsts, 1);
    QCOMPARE(survivor->state(), QProcess::Running);
    // Every loser handed its line over, none lost to the race.
    QTRY_COMPARE_WITH_TIMEOUT(received(survivor).size(), Copies - 1, Patience);
    finish(survivor);
}

void TestSingleInstance::firstCopyShrugsOffBadPeers()
{
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    guard.setHandOverTimeout(1500);
    QSignalSpy handOvers(&guard, &TSingleAppInstance::commandLineReceived);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());

    // A peer that connects and says nothing, one that announces too much, one that says nonsense.
    QLocalSocket silent;
    silent.connectToServer(guard.channelName());
    QVERIFY(silent.waitForConnected(Patience));
    QLocalSocket greedy;
    greedy.connectToServer(guard.channelName());
    QVERIFY(greedy.waitForConnected(Patience));
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(quint32(TSingleAppInstance::MaxCommandLine + 2), header.data());
    greedy.write(header + QByteArray(1000, 'x'));
    QLocalSocket empty;
    empty.connectToServer(guard.channelName());
    QVERIFY(empty.waitForConnected(Patience));
    empty.write(QByteArray(4, '\0'));

    // Meanwhile a real second copy gets through at once.
    QProcess* second = start({QStringLiteral("while-others-hang")});
    QTRY_COMPARE_WITH_TIMEOUT(handOvers.size(), 1, Patience);
    QVERIFY(handOvers.first().first().toByteArray().endsWith(" while-others-hang"));
    QCOMPARE(guard.receivedCommandLine(), handOvers.first().first().toByteArray());
    QVERIFY(ended(second));
    QCOMPARE(second->exitCode(), 0);

    // The bad peers are dropped, the silent one after its time is up.
    QTRY_COMPARE_WITH_TIMEOUT(greedy.state(), QLocalSocket::UnconnectedState, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(empty.state(), QLocalSocket::UnconnectedState, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, Patience);
    QCOMPARE(handOvers.size(), 1);

    // A hand-over of exactly the limit is taken, and answered with 1.
    QLocalSocket largest;
    largest.connectToServer(guard.channelName());
    QVERIFY(largest.waitForConnected(Patience));
    const QByteArray text(TSingleAppInstance::MaxCommandLine, 'a');
    largest.write(frame(text));
    QTRY_COMPARE_WITH_TIMEOUT(handOvers.size(), 2, Patience);
    QCOMPARE(guard.receivedCommandLine(), text);
    QTRY_VERIFY_WITH_TIMEOUT(largest.bytesAvailable() > 0 || largest.state() == QLocalSocket::UnconnectedState, Patience);
    QCOMPARE(largest.readAll(), QByteArray(1, '\1'));
}

void TestSingleInstance::oversizedHandOverIsRefused()
{
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    QSignalSpy handOvers(&guard, &TSingleAppInstance::commandLineReceived);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());

    // A second copy whose command line is beyond the limit still ends, handing nothing over.
    QProcess* second = start({QString(TSingleAppInstance::MaxCommandLine, QLatin1Char('z'))});
    QVERIFY(second->waitForStarted(Patience));
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, Patience);
    QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("second"));
    QCOMPARE(second->exitCode(), 0);

    // And a peer that sends it anyway is cut off without it being kept.
    QLocalSocket peer;
    peer.connectToServer(guard.channelName());
    QVERIFY(peer.waitForConnected(Patience));
    peer.write(frame(QByteArray(TSingleAppInstance::MaxCommandLine + 1, 'z')));
    QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QLocalSocket::UnconnectedState, Patience);
    QCOMPARE(handOvers.size(), 0);
    QVERIFY(guard.receivedCommandLine().isEmpty());
}

void TestSingleInstance::unsafeRuntimeFolderIsNotUsed()
{
    // A runtime folder others may write into is no place for the marker: another user could
    // plant a socket there or take the name first.
    QVERIFY(::chmod(QFile::encodeName(m_runtime).constData(), 0777) == 0);
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());
    QVERIFY(!guard.markerLocation().startsWith(m_runtime + QLatin1Char('/')));
    QVERIFY(!guard.channelName().startsWith(m_runtime + QLatin1Char('/')));
    struct stat info{};
    QCOMPARE(::stat(QFile::encodeName(QFileInfo(guard.markerLocation()).path()).constData(), &info), 0);
    QCOMPARE(info.st_uid, ::geteuid());
    QCOMPARE(info.st_mode & 077, 0u);

    // The copies of this user still find each other there.
    QProcess* second = start();
    QCOMPARE(waitForLine(second), QByteArray("second"));
}

void TestSingleInstance::otherUsersNeitherReceiveNorBlock()
{
    if (::geteuid() != 0)
        QSKIP("needs to start a copy as another user");
    const uid_t other = 65534;
    // The other user's copy holds the marker's name in the folder a fixed name in the temporary
    // folder would use, and in its own runtime folder.
    const QString squatted = m_dir->filePath(QStringLiteral("qm407-%1").arg(::geteuid()));
    QVERIFY(QDir().mkpath(squatted));
    for (const QString& path : {m_dir->path(), squatted})
        QVERIFY(::chown(QFile::encodeName(path).constData(), path == squatted ? other : 0, path == squatted ? other : 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(squatted).constData(), 0700) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);

    QProcessEnvironment otherEnvironment = m_environment;
    otherEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), squatted);
    auto otherCopy = std::make_unique<QProcess>();
    otherCopy->setProcessEnvironment(otherEnvironment);
    otherCopy->setWorkingDirectory(QDir::rootPath());
    otherCopy->start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(other), QStringLiteral("--regid=%1").arg(other),
                                                 QStringLiteral("--clear-groups"), probePath()});
    QCOMPARE(waitForLine(otherCopy.get()), QByteArray("first"));

    // This user's copies: with no runtime folder of their own they don't fall for the other
    // user's folder, and pointed at it they don't either.
    for (const bool pointedAtIt : {false, true}) {
        m_environment = QProcessEnvironment::systemEnvironment();
        if (pointedAtIt)
            m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), squatted);
        else
            m_environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        QProcess* mine = start({QStringLiteral("secret")});
        QCOMPARE(waitForLine(mine), QByteArray("first"));
        QProcess* mySecond = start({QStringLiteral("secret")});
        QCOMPARE(waitForLine(mySecond), QByteArray("second"));
        QTRY_COMPARE_WITH_TIMEOUT(received(mine).size(), 1, Patience);
        finish(mine);
    }
    QTest::qWait(200);
    QVERIFY(received(otherCopy.get()).isEmpty());
    QCOMPARE(otherCopy->state(), QProcess::Running);
    otherCopy->closeWriteChannel();
    QVERIFY(ended(otherCopy.get()));
}

void TestSingleInstance::markerWithBackslashIsRefused()
{
    TSingleAppInstance guard;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, guard.SetMarker(QStringLiteral("a\\b")));
    QVERIFY(guard.Marker().isEmpty());
    QCOMPARE(TSingleAppInstance::TranslateSlashes(QStringLiteral("C:\\Tools\\prog.exe")), QStringLiteral("C:_Tools_prog.exe"));
    // A slash can't lead the marker out of its folder.
    guard.SetMarker(QStringLiteral("../../escape"));
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());
    QCOMPARE(QFileInfo(guard.markerLocation()).path(), m_runtime);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
