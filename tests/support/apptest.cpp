#include "tests/support/apptest.h"

#include "app/application.h"
#include "app/auxwindow.h"
#include "app/filedialog.h"
#include "app/formstorage.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/quitrequest.h"
#include "app/registermodel.h"
#include "register/dataformat.h"
#include "register/heldfile.h"
#include "register/recordstore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

namespace {
int g_pending = 0;
QList<QPointer<QTimer>> g_timers;
} // namespace

namespace AppTest {

Record record(qint32 id, const QByteArray& number, const QByteArray& address, qint32 trinket)
{
    Record r;
    r.setInteger(Field::ID_RECORD, id);
    r.setText(Field::PULT_NUM, number);
    if (!address.isNull())
        r.setText(Field::ADDRESS, address);
    if (trinket >= 0) {
        r.setInteger(Field::ID_TRINK, trinket);
        r.setText(Field::CODE, "0X1X0X10X?");
    }
    return r;
}

QByteArray registerBytes(const std::vector<Record>& records)
{
    RecordStore store;
    for (const Record& r : records)
        store.append(r);
    return DataFormat::write(store);
}

std::vector<Record> recordsIn(const QString& path)
{
    RecordStore store;
    const QByteArray bytes = readFile(path);
    try {
        DataFormat::read(store, bytes);
    } catch (const std::exception&) {
        // The records read before the error are what the caller compares.
    }
    return store.rows();
}

std::vector<qint32> idsIn(const QString& path)
{
    std::vector<qint32> ids;
    for (const Record& r : recordsIn(path))
        ids.push_back(r.asInteger(Field::ID_RECORD));
    return ids;
}

int recordCount(const TFmTavro& window)
{
    return window.GridModel->rowCount();
}

std::vector<qint32> registerIds(const TFmTavro& window)
{
    std::vector<qint32> ids;
    // In the register's row order, which the grid's model shows sorted.
    for (int row = 0; row < window.GridModel->rowCount(); ++row)
        ids.push_back(window.GridModel->index(window.GridModel->displayRow(row), int(Field::ID_RECORD)).data().toInt());
    return ids;
}

QString currentText(const TFmTavro& window, Field field)
{
    const QModelIndexList selected = window.GridTrinket->selectionModel()->selectedRows(int(field));
    return selected.size() == 1 ? selected.first().data().toString() : QString();
}

qint32 currentId(const TFmTavro& window)
{
    const QModelIndexList selected = window.GridTrinket->selectionModel()->selectedRows(int(Field::ID_RECORD));
    return selected.size() == 1 ? selected.first().data().toInt() : NoRecord;
}

void selectRegisterRow(TFmTavro& window, int row)
{
    TGridTrinket* grid = window.GridTrinket;
    const int shown = grid->displayRow(row);
    QVERIFY2(shown >= 0, "the record is not shown");
    const QModelIndex index = grid->model()->index(shown, int(Field::PULT_NUM));
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
}

int openCount(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (!target.isEmpty() && fd.symLinkTarget() == target)
            ++count;
    }
    return count;
}

QStringList openTerminals()
{
    QStringList terminals;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        // A pseudo-terminal's master end shows as /dev/pts/ptmx where devpts is mounted on its own.
        if (fd.fileName().toInt() > 2 && !target.endsWith(QLatin1String("/ptmx"))
            && (target.startsWith(QLatin1String("/dev/tty")) || target.startsWith(QLatin1String("/dev/pts/"))))
            terminals << target;
    }
    return terminals;
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void onModal(const QString& windowName, std::function<void(TAuxWindow*)> action)
{
    ++g_pending;
    auto* timer = new QTimer(qApp);
    g_timers.append(timer);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, windowName, action] {
        auto* window = qobject_cast<TAuxWindow*>(QApplication::activeModalWidget());
        if (!window || window->objectName() != windowName || !window->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        --g_pending;
        action(window);
    });
    timer->start();
}

void clickWhenShown(const QString& windowName, const QString& buttonName)
{
    onModal(windowName, [buttonName](TAuxWindow* window) {
        auto* button = window->findChild<QPushButton*>(buttonName);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    });
}

bool pendingModalActions()
{
    return g_pending > 0;
}

void dropPendingModalActions()
{
    for (const QPointer<QTimer>& timer : g_timers)
        delete timer.data();
    g_timers.clear();
    g_pending = 0;
}

WorkDir::WorkDir()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

WorkDir::~WorkDir()
{
    QDir::setCurrent(m_previous);
}

namespace {
    PrivateSettings* g_settings = nullptr;
} // namespace

PrivateSettings::PrivateSettings()
    : m_outer(g_settings)
    , m_runtime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") ? qgetenv("XDG_RUNTIME_DIR") : QByteArray())
    , m_config(qEnvironmentVariableIsSet("XDG_CONFIG_HOME") ? qgetenv("XDG_CONFIG_HOME") : QByteArray())
    , m_data(qEnvironmentVariableIsSet("XDG_DATA_HOME") ? qgetenv("XDG_DATA_HOME") : QByteArray())
{
    const QString run = m_home.filePath(QStringLiteral("run"));
    QDir().mkpath(run);
    QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(storePath());
    g_settings = this;
    apply();
}

PrivateSettings::~PrivateSettings()
{
    g_settings = m_outer;
    if (m_outer) {
        m_outer->apply();
        return;
    }
    const auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_RUNTIME_DIR", m_runtime);
    restore("XDG_CONFIG_HOME", m_config);
    restore("XDG_DATA_HOME", m_data);
    TFormStorage::setStoreDirectory(QString());
}

void PrivateSettings::apply() const
{
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath(QStringLiteral("run"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(storePath()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
    TFormStorage::setStoreDirectory(storePath());
}

std::unique_ptr<TFmTavro> makeWindow(bool keepMessages)
{
    QuitRequest::reset();
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
    FileDialogSeam::clear();
    FileDialogSeam::setUnattended(true);
    auto window = std::make_unique<TFmTavro>();
    if (!keepMessages)
        MessageBoxSeam::clear();
    return window;
}

namespace {
    int holdFile(const QString& path)
    {
        HeldFile file;
        if (!file.openExisting(path)) {
            std::puts("failed");
            return 1;
        }
        std::puts("held");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        return 0;
    }
} // namespace

int run(QObject* test, int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--hold")
        return holdFile(QString::fromLocal8Bit(argv[2]));

    PrivateSettings settings;
    TApplication app(argc, argv);
    return QTest::qExec(test, argc, argv);
}

} // namespace AppTest
