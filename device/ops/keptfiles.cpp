#include "device/ops/keptfiles.h"

#include "device/ops/memoryimage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace KeptFiles {

namespace {
    const QByteArray Bom("\xEF\xBB\xBF");
    const QByteArray RowEnd("\r\n");
} // namespace

QByteArray textFile(const QStringList& lines)
{
    QByteArray bytes = Bom;
    for (const QString& line : lines)
        bytes += line.toUtf8() + RowEnd;
    return bytes;
}

QString csvField(const QString& field)
{
    if (!field.contains(u';') && !field.contains(u'"') && !field.contains(u'\r') && !field.contains(u'\n'))
        return field;
    QString quoted = field;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QByteArray journalCsv(const QList<DeviceOps::JournalEntry>& entries)
{
    QStringList rows {QStringLiteral("№;Код;Событие;Минуты;Время")};
    for (const DeviceOps::JournalEntry& e : entries) {
        const QStringList fields {QString::number(e.index), QString::number(e.event), DeviceOps::eventText(e.event),
                                  QString::number(e.minutes), DeviceOps::MinutesToText(e.minutes)};
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f);
        rows << quoted.join(u';');
    }
    return textFile(rows);
}

QString folderName(const QString& consoleNumber)
{
    QString name = consoleNumber.trimmed();
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|").contains(c))
            c = u'_';
    }
    // Windows drops trailing dots, and "." and ".." are no folders of ours.
    while (name.endsWith(u'.'))
        name[name.size() - 1] = u'_';
    // A leading dot hides the folder on Unix.
    if (name.startsWith(u'.'))
        name[0] = u'_';
    // Windows keeps device names (CON, COM1...) with any extension for its devices.
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM\\d|LPT\\d) *(?=\\.|$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = device.match(name);
    if (match.hasMatch())
        name.insert(match.capturedLength(1), u'_');
    return name.isEmpty() ? QStringLiteral("_") : name;
}

QString installationFolder(const QString& dataFolder, const QString& consoleNumber)
{
    return QDir(dataFolder).filePath(folderName(consoleNumber));
}

QString imageStamp(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
}

QString journalBaseName(const QString& consoleNumber, const QDate& day)
{
    return QStringLiteral("Журнал_") + folderName(consoleNumber) + u'_' + day.toString(QStringLiteral("yyyy-MM-dd"));
}

namespace {
    // Two existing names are compared through links (QFileInfo), others by their paths alone:
    // QFileInfo takes any two missing files for the same one.
    bool sameFile(const QFileInfo& a, const QFileInfo& b)
    {
        return a.exists() && b.exists() ? a == b : a.absoluteFilePath() == b.absoluteFilePath();
    }
} // namespace

QString dumpTextPath(const QString& imagePath)
{
    const QFileInfo image(imagePath);
    QString text = image.dir().filePath(image.completeBaseName() + QStringLiteral(".txt"));
    while (sameFile(QFileInfo(text), image))
        text += QStringLiteral(".txt");
    return text;
}

Outcome writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Outcome::failure(file.errorString());
    return {};
}

Expected<QByteArray> readImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Expected<QByteArray>::failure(file.errorString());
    const QByteArray bytes = file.read(DeviceOps::ImageSize + 1);
    if (bytes.size() != DeviceOps::ImageSize)
        return Expected<QByteArray>::failure(QStringLiteral("Файл не является образом EEPROM (256 байт): ")
                                             + QDir::toNativeSeparators(path));
    return bytes;
}

} // namespace KeptFiles
