#include "device/serialtrace.h"

#include "device/tracefile.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSerial, "qm407.serial", QtInfoMsg)

SerialTrace::SerialTrace(const QString& folder, std::function<void(const QString&)> onFailure)
    : m_folder(folder)
    , m_onFailure(std::move(onFailure))
{
}

SerialTrace::~SerialTrace() = default;

QString SerialTrace::hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void SerialTrace::sent(const QByteArray& bytes)
{
    put(QStringLiteral("-> ") + hex(bytes));
}

void SerialTrace::received(const QByteArray& bytes, int asked, bool silenceExpected)
{
    if (bytes.size() >= asked) {
        put(QStringLiteral("<- ") + hex(bytes));
    } else if (!silenceExpected) {
        const QString prefix = bytes.isEmpty() ? QStringLiteral("<- ") : QStringLiteral("<- ") + hex(bytes) + u' ';
        put(prefix + QStringLiteral("(тайм-аут, %1 из %2 байт)").arg(bytes.size()).arg(asked));
    } else if (!bytes.isEmpty()) {
        put(QStringLiteral("<- ") + hex(bytes));
    }
}

void SerialTrace::readFailed()
{
    put(QStringLiteral("!! сбой чтения порта"));
}

void SerialTrace::writeIncomplete()
{
    put(QStringLiteral("!! запись в порт не завершена"));
}

void SerialTrace::error(const QString& message)
{
    put(QStringLiteral("!! ") + message);
}

void SerialTrace::put(const QString& text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString line = now.time().toString(QStringLiteral("HH:mm:ss.zzz")) + u' ' + text;
    qCDebug(lcSerial).noquote() << line;
    if (m_folder.isEmpty())
        return;
    if (now.date() != m_day) {
        // A new day starts a new file, and the oldest ones go.
        m_file.close();
        m_day = now.date();
        QString error;
        if (!TraceFile::makeFolder(m_folder, &error)) {
            failed(m_folder, error);
            return;
        }
        removeOld(m_folder, m_day);
        if (!TraceFile::openLog(m_file, m_folder, fileName(m_day), &error)) {
            failed(QDir(m_folder).filePath(fileName(m_day)), error);
            return;
        }
    }
    if (!m_file.isOpen())
        return;
    const QByteArray bytes = (line + u'\n').toUtf8();
    // On disk at once: a trace is wanted most when the tool is about to go down.
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        failed(QDir(m_folder).filePath(fileName(m_day)), m_file.errorString());
        m_file.close();
    }
}

void SerialTrace::failed(const QString& path, const QString& reason)
{
    if (m_failureReported || !m_onFailure)
        return;
    m_failureReported = true;
    m_onFailure(
        QStringLiteral("Не могу записать трассировку обмена в %1: %2").arg(QDir::toNativeSeparators(path), reason));
}

QString SerialTrace::fileName(const QDate& day)
{
    return QStringLiteral("serial-") + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
}

void SerialTrace::removeOld(const QString& folder, const QDate& today)
{
    static const QRegularExpression name(QStringLiteral("^serial-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("serial-*.log")}, QDir::Files);
    for (const QString& file : files) {
        const QRegularExpressionMatch match = name.match(file);
        if (!match.hasMatch())
            continue;
        const QDate day = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day.daysTo(today) > KeepDays)
            dir.remove(file);
    }
}

QString SerialTrace::defaultFolder()
{
#if defined(Q_OS_LINUX)
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/qm407tool");
#else
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#endif
}
