#include "serialtrace.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSerial, "qm407.serial", QtInfoMsg)

SerialTrace::SerialTrace(const QString& folder)
    : m_folder(folder)
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
        QDir().mkpath(m_folder);
        removeOld(m_folder, m_day);
        m_file.setFileName(QDir(m_folder).filePath(fileName(m_day)));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    if (!m_file.isOpen())
        return;
    m_file.write((line + u'\n').toUtf8());
    // On disk at once: a trace is wanted most when the tool is about to go down.
    m_file.flush();
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
