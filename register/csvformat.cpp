#include "register/csvformat.h"

#include <QIODevice>

namespace Csv {

namespace {
    constexpr qsizetype ChunkSize = 64 * 1024;

    bool needsQuotes(const QByteArray& field, char separator)
    {
        for (const char c : field) {
            if (c == separator || c == '"' || c == '\r' || c == '\n')
                return true;
        }
        return false;
    }
} // namespace

void appendRecord(QByteArray& out, const QList<QByteArray>& fields, char separator)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out.append(separator);
        const QByteArray& field = fields[i];
        if (!needsQuotes(field, separator)) {
            out.append(field);
            continue;
        }
        out.append('"');
        for (const char c : field) {
            if (c == '"')
                out.append('"');
            out.append(c);
        }
        out.append('"');
    }
    out.append("\r\n");
}

Reader::Reader(QIODevice& device, char separator, qsizetype maxRecordBytes)
    : m_device(device)
    , m_separator(separator)
    , m_maxRecordBytes(maxRecordBytes)
{
}

bool Reader::fill()
{
    if (m_eof)
        return false;
    m_buffer = m_device.read(ChunkSize);
    m_pos = 0;
    if (m_buffer.isEmpty()) {
        m_eof = true;
        return false;
    }
    return true;
}

int Reader::get()
{
    if (m_pos >= m_buffer.size() && !fill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos++]);
}

int Reader::peek()
{
    if (m_pos >= m_buffer.size() && !fill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos]);
}

Reader::Status Reader::fail(const QString& message)
{
    m_error = message;
    return Status::Error;
}

Reader::Status Reader::next(QList<QByteArray>* fields)
{
    fields->clear();
    m_recordLine = m_line;
    if (peek() < 0)
        return Status::End;

    QByteArray field;
    qsizetype size = 0;
    bool quoted = false; // inside a quoted field
    bool closed = false; // a quoted field's closing quote was read
    for (;;) {
        const int c = get();
        if (++size > m_maxRecordBytes) {
            if (quoted)
                return fail(QStringLiteral("Незакрытая кавычка в строке %1").arg(m_recordLine));
            return fail(QStringLiteral("Строка %1 длиннее %2 байт").arg(m_recordLine).arg(m_maxRecordBytes));
        }
        if (quoted) {
            if (c < 0)
                return fail(QStringLiteral("Незакрытая кавычка в строке %1").arg(m_recordLine));
            if (c == '"') {
                if (peek() == '"') {
                    get();
                    field.append('"');
                } else {
                    quoted = false;
                    closed = true;
                }
                continue;
            }
            if (c == '\n')
                ++m_line;
            field.append(char(c));
            continue;
        }
        if (c < 0 || c == '\r' || c == '\n') {
            if (c == '\r' && peek() == '\n')
                get();
            if (c >= 0)
                ++m_line;
            fields->append(field);
            return Status::Record;
        }
        if (c == m_separator) {
            fields->append(field);
            field.clear();
            closed = false;
            continue;
        }
        if (closed)
            return fail(QStringLiteral("Лишний знак после закрывающей кавычки в строке %1").arg(m_line));
        if (c == '"') {
            if (!field.isEmpty())
                return fail(QStringLiteral("Кавычка внутри поля без кавычек в строке %1").arg(m_line));
            quoted = true;
            continue;
        }
        field.append(char(c));
    }
}

void Utf8Check::bad()
{
    if (m_invalid++ == 0)
        m_firstInvalidLine = m_line;
    m_pending = 0;
    m_lower = 0x80;
    m_upper = 0xBF;
}

void Utf8Check::narrowFirst(unsigned char lead, Bound lowest, Bound highest)
{
    if (lead == lowest.lead)
        m_lower = lowest.bound;
    else if (lead == highest.lead)
        m_upper = highest.bound;
}

void Utf8Check::feed(const char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (m_pending > 0) {
            if (b >= m_lower && b <= m_upper) {
                m_lower = 0x80;
                m_upper = 0xBF;
                if (--m_pending == 0)
                    ++m_sequences;
                continue;
            }
            // The sequence ends short; this byte starts afresh.
            bad();
        }
        if (b == '\n')
            ++m_line;
        if (b < 0x80)
            continue;
        // The first continuation byte's range rules out overlong forms, surrogates and values
        // beyond U+10FFFF.
        if (b >= 0xC2 && b <= 0xDF) {
            m_pending = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            m_pending = 2;
            narrowFirst(b, {0xE0, 0xA0}, {0xED, 0x9F});
        } else if (b >= 0xF0 && b <= 0xF4) {
            m_pending = 3;
            narrowFirst(b, {0xF0, 0x90}, {0xF4, 0x8F});
        } else {
            bad();
        }
    }
}

} // namespace Csv
