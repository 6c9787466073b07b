#pragma once

#include "register/record.h"
#include "tests/support/fixtures.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

class TAuxWindow;
class TFmTavro;

// Shared ground for the main window tests: each window runs in its own temporary folder as
// the current directory, with the settings store and the single-instance marker kept there too.
namespace AppTest {

using Fixtures::readFile;
using Fixtures::writeFile;
inline QByteArray utf8(const char* text)
{
    return Fixtures::cp(text);
}

// A register record; with a trinket it also gets a jumper pattern.
Record record(qint32 id, const QByteArray& number, const QByteArray& address = QByteArray(), qint32 trinket = -1);
QByteArray registerBytes(const std::vector<Record>& records);
// The records a data file holds, read as the tool reads them.
std::vector<Record> recordsIn(const QString& path);
std::vector<qint32> idsIn(const QString& path);

// The register as the window shows it: the grid's model in the register's own row order, and
// the current record as the grid's selected row.
int recordCount(const TFmTavro& window);
std::vector<qint32> registerIds(const TFmTavro& window);
QString currentText(const TFmTavro& window, Field field); // empty with no row selected
qint32 currentId(const TFmTavro& window); // NoRecord with no row selected
constexpr qint32 NoRecord = std::numeric_limits<qint32>::min();
// Clicks the grid row that shows the record at this register row.
void selectRegisterRow(TFmTavro& window, int row);

// How many descriptors of this process are open on the file or device at path.
int openCount(const QString& path);
// The terminals (serial ports, pseudo-terminals) this process holds beyond its standard streams.
QStringList openTerminals();

// Types text key by key, Cyrillic included.
void typeText(QWidget* widget, const QString& text);

// Runs `action` on the first modal auxiliary window of that name that comes up.
void onModal(const QString& windowName, std::function<void(TAuxWindow*)> action);
// Clicks a button once its window shows it (modal or not).
void clickWhenShown(const QString& windowName, const QString& buttonName);
bool pendingModalActions();
void dropPendingModalActions();

// A working folder made current for one test; the previous folder is restored afterwards.
class WorkDir final
{
public:
    WorkDir();
    ~WorkDir();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The settings store, the configuration folder and the single-instance marker's folder kept in
// a private temporary folder while this lives, so parallel test programs never see each other;
// an outer one is in force again afterwards.
class PrivateSettings final
{
public:
    PrivateSettings();
    ~PrivateSettings();
    PrivateSettings(const PrivateSettings&) = delete;
    PrivateSettings& operator=(const PrivateSettings&) = delete;
    QString storePath() const { return m_home.filePath(QStringLiteral("config")); }

private:
    void apply() const;

    QTemporaryDir m_home;
    PrivateSettings* m_outer;
    QByteArray m_runtime;
    QByteArray m_config;
    QByteArray m_data;
};

// Builds the main window as the program does (start-up included) and answers stray boxes
// unattended; the message record starts empty once the window is built.
std::unique_ptr<TFmTavro> makeWindow(bool keepMessages = false);

// Runs the tests; `--hold <file>` makes this process hold a data file until stdin closes.
int run(QObject* test, int argc, char** argv);

} // namespace AppTest

#define QM407_APP_TEST_MAIN(TestClass)                                                                                 \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestClass test;                                                                                                \
        return AppTest::run(&test, argc, argv);                                                                        \
    }
