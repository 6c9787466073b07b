#include "register/registercsv.h"

#include "register/csvformat.h"
#include "register/editing.h"
#include "register/plainfile.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace RegisterCsv {

namespace {

    constexpr char Bom[] = "\xEF\xBB\xBF";
    constexpr int ShownColumns = 5;
    constexpr int AllColumns = 7;
    constexpr char Digits[] = "0X?1"; // a jumper digit's value is its position here

    QByteArray numberText(const Record& r, Field f)
    {
        return r.isNull(f) ? QByteArray() : QByteArray::number(r.asInteger(f));
    }

    // The 20 jumper bits of a pattern; -1 when it is not ten jumper digits.
    qint64 patternBits(const QString& pattern)
    {
        if (pattern.size() != 10)
            return -1;
        qint64 bits = 0;
        for (const QChar c : pattern) {
            const char* digit = c.unicode() < 0x80 ? std::strchr(Digits, char(c.unicode())) : nullptr;
            if (!digit || *digit == '\0')
                return -1;
            bits = (bits << 2) | (digit - Digits);
        }
        return bits;
    }

    // A raw code cell: decimal digits only, at most 24 bits; -1 otherwise.
    qint64 rawValue(const QString& cell)
    {
        if (cell.isEmpty() || cell.size() > 8)
            return -1;
        qint64 value = 0;
        for (const QChar c : cell) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            value = value * 10 + (c.unicode() - '0');
        }
        return value <= 0xFFFFFF ? value : -1;
    }

    bool fitsWindows1251(const QString& text)
    {
        return Text1251::toUnicode(Text1251::fromUnicode(text)) == text;
    }

    struct CodeCells
    {
        QString shown; // trimmed, upper case
        QString raw; // trimmed; empty when the file has no raw columns
    };

    // Fills one trinket's pair of fields. Both cells given: they must agree. Only the raw code:
    // the pattern is rendered from it. Only the pattern: the raw code is rebuilt with button '1'
    // in its low bits, the only button enrolment accepts. A raw 0 means no trinket.
    QString setCode(const CodeCells& cells, Field rawField, Field codeField, const QString& which, Record* record,
                    QString* shown)
    {
        *shown = cells.shown;
        if (cells.shown.isEmpty() && cells.raw.isEmpty())
            return {};
        qint64 raw = -1;
        if (!cells.raw.isEmpty()) {
            raw = rawValue(cells.raw);
            if (raw < 0)
                return QStringLiteral("Неверное число брелка %1").arg(which);
        }
        qint64 bits = -1;
        if (!cells.shown.isEmpty()) {
            bits = patternBits(cells.shown);
            if (bits < 0)
                return QStringLiteral("Неверный код брелка %1").arg(which);
        }
        if (raw < 0)
            raw = (bits << 4) | 3;
        const QString rendered = raw == 0 ? QString() : Editing::TrinketCode(quint32(raw));
        if (bits >= 0 && rendered != cells.shown)
            return QStringLiteral("Код брелка %1 не соответствует его числу").arg(which);
        record->setInteger(rawField, qint32(raw));
        record->setText(codeField, Text1251::fromUnicode(rendered));
        *shown = rendered;
        return {};
    }

    // A spreadsheet runs a cell that starts with one of these as a formula.
    bool startsFormula(const QByteArray& cell)
    {
        // Apostrophes put before such a cell are counted through, so that one put there by an
        // export is told from one the text began with.
        qsizetype i = 0;
        while (i < cell.size() && cell[i] == '\'')
            ++i;
        return i < cell.size() && std::strchr("=+-@\t\r", cell[i]) && cell[i] != '\0';
    }

    QByteArray neutralised(const QByteArray& cell)
    {
        return startsFormula(cell) ? '\'' + cell : cell;
    }

    QString unneutralised(const QString& cell)
    {
        return cell.startsWith(u'\'') && startsFormula(cell.toUtf8()) ? cell.mid(1) : cell;
    }

    bool hasControlCharacter(const QString& text, bool lineBreaksAllowed)
    {
        return std::any_of(text.begin(), text.end(), [lineBreaksAllowed](QChar c) {
            if (lineBreaksAllowed && (c == u'\r' || c == u'\n' || c == u'\t'))
                return false;
            return c.unicode() < 0x20 || c.unicode() == 0x7F;
        });
    }

    class Planner final
    {
    public:
        Planner(const RecordStore& store, ImportPlan& plan)
            : m_plan(plan)
        {
            for (const Record& r : store.rows()) {
                if (!r.isNull(Field::PULT_NUM))
                    m_registerNumbers.insert(r.asText(Field::PULT_NUM));
                for (const Field f : {Field::ID_TRINK, Field::ID_TRINK_D}) {
                    if (r.asInteger(f) != 0)
                        m_registerCodes.insert(r.asInteger(f));
                }
            }
        }

        void addRow(int line, const QList<QByteArray>& cells)
        {
            ImportRow row;
            row.line = line;
            QStringList texts;
            for (const QByteArray& cell : cells)
                texts << decode(cell);
            const int columns = m_plan.rawCodes ? AllColumns : ShownColumns;
            if (texts.size() >= ShownColumns) {
                texts[1] = unneutralised(texts[1]);
                texts[2] = unneutralised(texts[2]);
                row.number = texts[1].trimmed();
                row.address = texts[2];
                row.code = texts[3].trimmed();
                row.codeD = texts[4].trimmed();
            }
            if (texts.size() != columns)
                row.refusal = QStringLiteral("Неверное число полей: %1 вместо %2").arg(texts.size()).arg(columns);
            else
                row.refusal = check(texts, row);
            m_plan.rows.push_back(std::move(row));
        }

        QString decode(const QByteArray& bytes) const
        {
            return m_plan.utf8 ? QString::fromUtf8(bytes) : Text1251::toUnicode(bytes);
        }

    private:
        QString check(const QStringList& texts, ImportRow& row)
        {
            bool isNumber = false;
            if (texts[0].trimmed().toInt(&isNumber) == 0 && isNumber)
                return QStringLiteral("Запись брелка-мастера не переносится");
            for (const QString& text : texts) {
                if (!fitsWindows1251(text))
                    return QStringLiteral("Знаки, которых нет в кодировке Windows-1251");
            }
            // Addresses may run over lines, as the register holds them; nothing else steers.
            if (hasControlCharacter(texts[1], false))
                return QStringLiteral("Управляющие знаки в пультовом номере");
            if (hasControlCharacter(texts[2], true))
                return QStringLiteral("Управляющие знаки в адресе");
            // The record window's normalisation and limits.
            const QByteArray number = Text1251::trimmed(Text1251::toUpper(Text1251::fromUnicode(texts[1])));
            const QByteArray address = Text1251::fromUnicode(texts[2]);
            row.number = Text1251::toUnicode(number);
            if (number.isEmpty())
                return Editing::emptyConsoleNumberText();
            if (number.size() > textFieldWidth(Field::PULT_NUM))
                return QStringLiteral("Пультовой номер длиннее 32 знаков");
            if (address.size() > textFieldWidth(Field::ADDRESS))
                return QStringLiteral("Адрес длиннее 80 знаков");
            row.record.setText(Field::PULT_NUM, number);
            row.record.setText(Field::ADDRESS, address);

            if (m_registerNumbers.contains(number))
                return Editing::duplicateConsoleNumberText();
            const auto seenNumber = m_fileNumbers.constFind(number);
            if (seenNumber != m_fileNumbers.constEnd())
                return QStringLiteral("Пультовой номер повторяется в файле (строка %1)").arg(*seenNumber);
            m_fileNumbers.insert(number, row.line);

            const CodeCells first {texts[3].trimmed().toUpper(), m_plan.rawCodes ? texts[5].trimmed() : QString()};
            const CodeCells second {texts[4].trimmed().toUpper(), m_plan.rawCodes ? texts[6].trimmed() : QString()};
            QString refusal = setCode(first, Field::ID_TRINK, Field::CODE, QStringLiteral("2"), &row.record, &row.code);
            if (refusal.isEmpty())
                refusal
                    = setCode(second, Field::ID_TRINK_D, Field::CODE_D, QStringLiteral("3"), &row.record, &row.codeD);
            if (!refusal.isEmpty())
                return refusal;

            // Enrolment finds a record by its trinket code, so a code may belong to one record only.
            for (const Field f : {Field::ID_TRINK, Field::ID_TRINK_D}) {
                const qint32 code = row.record.asInteger(f);
                if (code == 0)
                    continue;
                if (m_registerCodes.contains(code))
                    return QStringLiteral("Брелок с таким кодом уже есть в реестре");
                const auto seenCode = m_fileCodes.constFind(code);
                if (seenCode != m_fileCodes.constEnd())
                    return QStringLiteral("Код брелка повторяется в файле (строка %1)").arg(*seenCode);
                m_fileCodes.insert(code, row.line);
            }
            return {};
        }

        ImportPlan& m_plan;
        QSet<QByteArray> m_registerNumbers;
        QSet<qint32> m_registerCodes;
        QHash<QByteArray, int> m_fileNumbers;
        QHash<qint32, int> m_fileCodes;
    };

    bool sameHeader(const QString& cell, const QString& header)
    {
        return cell.trimmed().compare(header, Qt::CaseInsensitive) == 0;
    }

    // UTF-16 without a byte-order mark: NULs in one half of the byte positions only, as the
    // high bytes of the text's ASCII characters leave them.
    bool looksLikeUtf16(const QByteArray& chunk)
    {
        qsizetype zeros[2] = {0, 0};
        for (qsizetype i = 0; i < chunk.size(); ++i)
            zeros[i & 1] += chunk[i] == '\0';
        const qsizetype half = chunk.size() / 2;
        return half > 0 && qMin(zeros[0], zeros[1]) * 50 < half && qMax(zeros[0], zeros[1]) * 4 >= half;
    }

    // UTF-8 or Windows-1251, or why neither. Windows-1251 text is mostly ill-formed as UTF-8,
    // UTF-8 text with a stray byte mostly well-formed.
    QString encodingOf(const Csv::Utf8Check& check, bool bom, bool* utf8)
    {
        *utf8 = check.valid();
        if (*utf8)
            return {};
        if (check.sequences() > check.invalid())
            return QStringLiteral("Неверный байт UTF-8 в строке %1").arg(check.firstInvalidLine());
        if (bom)
            return QStringLiteral("Файл помечен как UTF-8, но записан в Windows-1251");
        return {};
    }

    // Pass over the raw bytes: no NUL (binary data), no more than the limit, UTF-8 or not.
    // Gives the first line for the separator.
    QString scan(QIODevice& file, const Limits& limits, bool* utf8, QByteArray* head)
    {
        Csv::Utf8Check check;
        qint64 total = 0;
        for (;;) {
            const QByteArray chunk = file.read(64 * 1024);
            if (chunk.isEmpty())
                break;
            total += chunk.size();
            if (total > limits.maxFileBytes)
                return QStringLiteral("Файл больше %1 МБ: это не реестр").arg(limits.maxFileBytes / (1024 * 1024));
            if (chunk.contains('\0'))
                return total == chunk.size() && looksLikeUtf16(chunk)
                    ? QStringLiteral("Файл в кодировке UTF-16 без метки порядка байтов")
                    : QStringLiteral("Файл не является текстом CSV");
            check.feed(chunk.constData(), chunk.size());
            if (head->size() < limits.maxRecordBytes + 3)
                head->append(chunk.left(limits.maxRecordBytes + 3 - head->size()));
        }
        const auto* device = qobject_cast<QFileDevice*>(&file);
        if (device && device->error() != QFileDevice::NoError)
            return QStringLiteral("Ошибка чтения файла: %1").arg(device->errorString());
        return encodingOf(check, head->startsWith(Bom), utf8);
    }

    // A UTF-16 file with its byte-order mark is read whole and taken on as UTF-8 with one:
    // *source becomes the converted buffer. Anything else is left to be read as it is.
    QString takeUtf16(QFile& file, QBuffer& converted, QIODevice** source)
    {
        const QByteArray start = file.read(2);
        file.seek(0);
        if (start != "\xFF\xFE" && start != "\xFE\xFF")
            return {};
        const QByteArray bytes = file.readAll();
        QStringDecoder decode(start == "\xFF\xFE" ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        const QString text = decode(bytes.sliced(2));
        // The decoder passes lone surrogates and an odd last byte over.
        if (decode.hasError() || !text.isValidUtf16() || bytes.size() % 2 != 0)
            return QStringLiteral("Неверные знаки в файле UTF-16");
        converted.setData(QByteArray(Bom) + text.toUtf8());
        converted.open(QIODevice::ReadOnly);
        *source = &converted;
        return {};
    }

} // namespace

QStringList headers()
{
    return {QStringLiteral("N"),
            QStringLiteral("Пульт. N"),
            QStringLiteral("Адрес"),
            QStringLiteral("Брелок 2"),
            QStringLiteral("Брелок 3"),
            QStringLiteral("Брелок 2 (число)"),
            QStringLiteral("Брелок 3 (число)")};
}

bool write(const RecordStore& store, QIODevice& device)
{
    const std::vector<Record>& rows = store.rows();
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t(0));
    // The grid's opening order: by number, empty numbers first.
    std::stable_sort(order.begin(), order.end(), [&rows](size_t a, size_t b) {
        const Record& ra = rows[a];
        const Record& rb = rows[b];
        if (ra.isNull(Field::ID_RECORD) != rb.isNull(Field::ID_RECORD))
            return ra.isNull(Field::ID_RECORD);
        return ra.asInteger(Field::ID_RECORD) < rb.asInteger(Field::ID_RECORD);
    });

    QByteArray out(Bom);
    QList<QByteArray> fields;
    for (const QString& header : headers())
        fields << header.toUtf8();
    Csv::appendRecord(out, fields, ';');
    for (const size_t i : order) {
        const Record& r = rows[i];
        fields = {numberText(r, Field::ID_RECORD),
                  neutralised(Text1251::toUtf8(r.asText(Field::PULT_NUM))),
                  neutralised(Text1251::toUtf8(r.asText(Field::ADDRESS))),
                  Text1251::toUtf8(r.asText(Field::CODE)),
                  Text1251::toUtf8(r.asText(Field::CODE_D)),
                  numberText(r, Field::ID_TRINK),
                  numberText(r, Field::ID_TRINK_D)};
        Csv::appendRecord(out, fields, ';');
        if (out.size() >= 256 * 1024) {
            if (device.write(out) != out.size())
                return false;
            out.clear();
        }
    }
    return device.write(out) == out.size();
}

int ImportPlan::accepted() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const ImportRow& r) { return r.refusal.isEmpty(); }));
}

namespace {

    // ';' unless the first line has ',' and no ';'.
    char separatorOf(const QByteArray& text)
    {
        const qsizetype end = text.indexOf('\n');
        const QByteArray firstLine = text.left(end < 0 ? text.size() : end);
        return !firstLine.contains(';') && firstLine.contains(',') ? ',' : ';';
    }

    bool isHeader(const QList<QByteArray>& cells, const Planner& planner)
    {
        const QStringList expected = headers();
        bool header = cells.size() == ShownColumns || cells.size() == AllColumns;
        for (qsizetype i = 0; header && i < cells.size(); ++i)
            header = sameHeader(planner.decode(cells[i]), expected[i]);
        return header;
    }

} // namespace

ImportPlan plan(const QString& path, const RecordStore& store, const Limits& limits)
{
    ImportPlan result;
    QFile file;
    if (!openPlainFileForReading(file, path)) {
        result.error = QStringLiteral("Не могу открыть файл %1").arg(QDir::toNativeSeparators(path));
        return result;
    }
    // A huge file is refused before a byte of it is read.
    if (file.size() > limits.maxFileBytes) {
        result.error = QStringLiteral("Файл больше %1 МБ: это не реестр").arg(limits.maxFileBytes / (1024 * 1024));
        return result;
    }
    QBuffer converted;
    QIODevice* source = &file;
    result.error = takeUtf16(file, converted, &source);
    if (!result.error.isEmpty())
        return result;
    QByteArray head;
    result.error = scan(*source, limits, &result.utf8, &head);
    if (!result.error.isEmpty())
        return result;

    const bool bom = head.startsWith(Bom);
    result.separator = separatorOf(head.mid(bom ? 3 : 0));
    source->seek(bom ? 3 : 0);
    Csv::Reader reader(*source, result.separator, limits.maxRecordBytes);
    QList<QByteArray> cells;
    Planner planner(store, result);
    const auto fail = [&result](const QString& error) {
        result = ImportPlan();
        result.error = error;
        return result;
    };

    Csv::Reader::Status status = reader.next(&cells);
    if (status == Csv::Reader::Status::Error)
        return fail(reader.error());
    if (!isHeader(cells, planner))
        return fail(QStringLiteral("Первая строка файла не заголовок реестра: ожидаются столбцы %1")
                        .arg(headers().join(QStringLiteral("; "))));
    result.rawCodes = cells.size() == AllColumns;

    int rows = 0;
    while ((status = reader.next(&cells)) == Csv::Reader::Status::Record) {
        // Empty lines are no records.
        if (cells.size() == 1 && cells[0].isEmpty())
            continue;
        if (++rows > limits.maxRows)
            return fail(QStringLiteral("В файле больше %1 записей").arg(limits.maxRows));
        planner.addRow(reader.line(), cells);
    }
    if (status == Csv::Reader::Status::Error)
        return fail(reader.error());
    if (result.rows.empty())
        return fail(QStringLiteral("В файле нет записей"));
    return result;
}

void apply(RecordStore& store, qint32& maxRecordId, const ImportPlan& plan)
{
    RecordStore::Batch batch(store);
    Editing::RecordNumbers numbers(store, maxRecordId);
    for (const ImportRow& row : plan.rows) {
        if (!row.refusal.isEmpty())
            continue;
        Record record = row.record;
        record.setInteger(Field::ID_RECORD, numbers.next());
        store.append(record);
    }
}

} // namespace RegisterCsv
