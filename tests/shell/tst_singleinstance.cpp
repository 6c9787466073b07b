#include "app/singleappinstance.h"

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
    void endedFirstCopyFreesTheMarker();
    void firstCopyShrugsOffBadPeers();
    void oversizedHandOverIsRefused();
    void unresponsiveFirstCopyDoesNotHoldTheSecond();
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
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    QSignalSpy handOvers(&guard, &TSingleAppInstance::commandLineReceived);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());

    // From another folder: the whole command line as one text, program path first.
    QProcess* second = start({QStringLiteral("--port"), QStringLiteral("two words"), QStringLiteral("Пульт")},
                             probePath(), QDir::rootPath());
    QTRY_COMPARE_WITH_TIMEOUT(handOvers.size(), 1, Patience);
    QCOMPARE(guard.receivedCommandLine(), (probePath() + QStringLiteral(" --port two words Пульт")).toUtf8());
    QVERIFY(ended(second));
    QCOMPARE(second->readAllStandardOutput(), QByteArray("second\n"));
    QCOMPARE(second->exitCode(), 0);
}

void TestSingleInstance::endedFirstCopyFreesTheMarker()
{
    QString channel;
    {
        TSingleAppInstance guard;
        guard.SetMarker(Marker);
        guard.Loaded();
        QVERIFY(guard.isFirstInstance());
        channel = guard.channelName();
        QVERIFY(QFile::exists(channel));
    }
    QVERIFY(!QFile::exists(channel));
    QProcess* next = start();
    QCOMPARE(waitForLine(next), QByteArray("first"));
    finish(next);

    // Switched off, a guard lets its marker go at once.
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());
    guard.SetEnabled(false);
    QProcess* another = start();
    QCOMPARE(waitForLine(another), QByteArray("first"));
    finish(another);
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
    QTRY_VERIFY_WITH_TIMEOUT(largest.bytesAvailable() > 0 || largest.state() == QLocalSocket::UnconnectedState,
                             Patience);
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

void TestSingleInstance::unresponsiveFirstCopyDoesNotHoldTheSecond()
{
    TSingleAppInstance guard;
    guard.SetMarker(Marker);
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());
    // This process handles no events while it waits: as a first copy stuck in a long operation.
    QProcess* second = start();
    QVERIFY(second->waitForFinished(Patience * 2));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray("second\n"));
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
    struct stat info
    {
    };
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
        QVERIFY(::chown(QFile::encodeName(path).constData(), path == squatted ? other : 0, path == squatted ? other : 0)
                == 0);
    QVERIFY(::chmod(QFile::encodeName(squatted).constData(), 0700) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);

    QProcessEnvironment otherEnvironment = m_environment;
    otherEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), squatted);
    auto otherCopy = std::make_unique<QProcess>();
    otherCopy->setProcessEnvironment(otherEnvironment);
    otherCopy->setWorkingDirectory(QDir::rootPath());
    otherCopy->start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=%1").arg(other), QStringLiteral("--regid=%1").arg(other),
                      QStringLiteral("--clear-groups"), probePath()});
    QCOMPARE(waitForLine(otherCopy.get()), QByteArray("first"));

    // This user's copies: with no runtime folder of their own they don't fall for the other
    // user's folder, and pointed at it they don't either.
    for (const bool pointedAtIt : {false, true}) {
        if (pointedAtIt)
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(squatted));
        else
            qunsetenv("XDG_RUNTIME_DIR");
        m_environment = QProcessEnvironment::systemEnvironment();
        TSingleAppInstance mine;
        mine.SetMarker(Marker);
        QSignalSpy handOvers(&mine, &TSingleAppInstance::commandLineReceived);
        mine.Loaded();
        QVERIFY(mine.isFirstInstance());
        QVERIFY(!mine.channelName().startsWith(squatted));
        QProcess* second = start({QStringLiteral("secret")});
        QTRY_COMPARE_WITH_TIMEOUT(handOvers.size(), 1, Patience);
        QVERIFY(ended(second));
    }
    // Both senders are gone; whatever the other user's copy got, it prints before it ends.
    QCOMPARE(otherCopy->state(), QProcess::Running);
    otherCopy->closeWriteChannel();
    QVERIFY(ended(otherCopy.get()));
    QVERIFY(received(otherCopy.get()).isEmpty());
}

void TestSingleInstance::markerWithBackslashIsRefused()
{
    TSingleAppInstance guard;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, guard.SetMarker(QStringLiteral("a\\b")));
    QVERIFY(guard.Marker().isEmpty());
    QCOMPARE(TSingleAppInstance::TranslateSlashes(QStringLiteral("C:\\Tools\\prog.exe")),
             QStringLiteral("C:_Tools_prog.exe"));
    // A slash can't lead the marker out of its folder.
    guard.SetMarker(QStringLiteral("../../escape"));
    guard.Loaded();
    QVERIFY(guard.isFirstInstance());
    QCOMPARE(QFileInfo(guard.markerLocation()).path(), m_runtime);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
