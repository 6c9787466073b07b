#include "register/datafile.h"
#include "register/recordstore.h"
#include "sim/simulator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// The real tool started as an installer starts it: from a shell without a display, after a
// restart with a stored port, from the desktop menu.

namespace {
constexpr int Patience = 30000;

// Whether another open file holds the device's lock, as the tool's port does.
bool lockHeld(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    const int fd = ::open(local.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}
} // namespace

class TestToolStart final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void helpAndVersionNeedNoDisplay();
    void storedPortIsOpenedAtStart();
    void desktopStartKeepsTheDataInTheUsersFolder();

private:
    QProcess* start(const QStringList& arguments, const QString& folder);
    void makeRegister(const QString& folder);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_tool;
};

void TestToolStart::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char* sub : {"work", "runtime", "config", "home"})
        QVERIFY(QDir(m_dir->path()).mkdir(QString::fromLatin1(sub)));
    QVERIFY(QFile::setPermissions(m_dir->filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void TestToolStart::cleanup()
{
    if (m_tool && m_tool->state() != QProcess::NotRunning) {
        m_tool->kill();
        m_tool->waitForFinished(Patience);
    }
    m_tool.reset();
    m_dir.reset();
}

QProcess* TestToolStart::start(const QStringList& arguments, const QString& folder)
{
    m_tool = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    environment.remove(QStringLiteral("XDG_DOCUMENTS_DIR"));
    m_tool->setProcessEnvironment(environment);
    m_tool->setWorkingDirectory(folder);
    m_tool->start(QStringLiteral(QM407_TOOL), arguments);
    return m_tool.get();
}

void TestToolStart::makeRegister(const QString& folder)
{
    RecordStore records;
    DataFile data(records, folder + QStringLiteral("/Trinket.dat"), folder + QStringLiteral("/Trinket.bkd"));
    QCOMPARE(data.createAnew().error(), QString());
    data.release();
}

void TestToolStart::helpAndVersionNeedNoDisplay()
{
    for (const QString& option : {QStringLiteral("--version"), QStringLiteral("--help")}) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // A window system that is not there: building the GUI would abort.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(QM407_TOOL), {option});
        QVERIFY(tool.waitForFinished(Patience));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
        if (option == QLatin1String("--version"))
            QCOMPARE(out, QStringLiteral("qm407tool 1.0\n"));
        else
            QVERIFY2(out.contains(QStringLiteral("--desktop")) && out.contains(QStringLiteral("--version")),
                     qPrintable(out));
    }
}

void TestToolStart::storedPortIsOpenedAtStart()
{
    Qm407Simulator simulator;
    QVERIFY(simulator.start());
    const QString work = m_dir->filePath(QStringLiteral("work"));
    makeRegister(work);
    const QString settings = m_dir->filePath(QStringLiteral("config/Pralvek/TavroQM407.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(settings).path()));
    QFile store(settings);
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[TFmTavro]\nFormVersion=0\nCBPort_Text=" + QFile::encodeName(simulator.slavePath())
                + "\nCBPort_ItemIndex=-1\n");
    store.close();
    QVERIFY(!lockHeld(simulator.slavePath()));

    QProcess* tool = start({}, work);
    QVERIFY(tool->waitForStarted(Patience));
    // The tool holds its port exclusively from the moment it opens it.
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(simulator.slavePath()) || tool->state() == QProcess::NotRunning, Patience);
    QCOMPARE(tool->state(), QProcess::Running);
}

void TestToolStart::desktopStartKeepsTheDataInTheUsersFolder()
{
    const QString folder = m_dir->filePath(QStringLiteral("home/Documents/QM407"));
    QProcess* tool = start({QStringLiteral("--desktop")}, m_dir->filePath(QStringLiteral("work")));
    QVERIFY(tool->waitForStarted(Patience));
    // A first start there finds no register: the folder is made and the recovery window waits.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(folder).isDir() || tool->state() == QProcess::NotRunning, Patience);
    QCOMPARE(tool->state(), QProcess::Running);
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("work"))).isEmpty());
}

QTEST_MAIN(TestToolStart)
#include "tst_toolstart.moc"
