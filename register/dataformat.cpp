#include "dataformat.h"

#include "recordstore.h"
#include "registererror.h"
#include "text1251.h"


#include <cstring>

namespace {

enum Tag : unsigned char
{
    TagEnd = 0x00,
    TagList = 0x01,
    TagInt8 = 0x02,
    TagInt16 = 0x03,
    TagInt32 = 0x04,
    TagText = 0x06,
    TagFalse = 0x08,
    TagTrue = 0x09,
    TagLongText = 0x0C,
    TagWideText = 0x12,
    TagUtf8Text = 0x14,
};

constexpr char Signature[4] = {'T', 'P', 'F', '0'};
constexpr qint32 FormatVersion = 251;

QString readErrorText() { return QStringLiteral("Stream read error"); }
QString formatErrorText() { return QStringLiteral("Invalid stream format"); }
QString valueErrorText() { return QStringLiteral("Invalid property value"); }

void putLe32(QByteArray& out, quint32 v)
{
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
    out.append(b, 4);
}

void writeInteger(QByteArray& out, qint32 v)
{
    if (v >= -128 && v <= 127) {
        out.append(char(TagInt8));
        out.append(char(v));
    } else if (v >= -32768 && v <= 32767) {
        out.append(char(TagInt16));
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    } else {
        out.append(char(TagInt32));
        putLe32(out, quint32(v));
    }
}

void writeText(QByteArray& out, const QByteArray& text)
{
    bool plain = true;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain && text.size() <= 255) {
        out.append(char(TagText));
        out.append(char(text.size()));
        out.append(text);
    } else if (plain) {
        out.append(char(TagLongText));
        putLe32(out, quint32(text.size()));
        out.append(text);
    } else {
        const QByteArray utf8 = Text1251::toUtf8(text);
        out.append(char(TagUtf8Text));
        putLe32(out, quint32(utf8.size()));
        out.append(utf8);
    }
}

// Every read is checked against what remains; a declared length is compared with the remaining
// bytes before anything is taken, so a lying length never allocates.
class Reader
{
public:
    Reader(const char* data, qint64 size)
        : m_data(reinterpret_cast<const unsigned char*>(data))
        , m_size(size)
    {
    }

    qint64 position() const { return m_pos; }
    qint64 remaining() const { return m_size - m_pos; }

    unsigned char byte()
    {
        need(1);
        return m_data[m_pos++];
    }

    unsigned char peek()
    {
        need(1);
        return m_data[m_pos];
    }

    const char* take(qint64 n)
    {
        need(n);
        const char* p = reinterpret_cast<const char*>(m_data + m_pos);
        m_pos += n;
        return p;
    }

    quint32 le32()
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(take(4));
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }

    void expect(unsigned char tag)
    {
        if (byte() != tag)
            throw RegisterError(valueErrorText());
    }

    qint32 integer()
    {
        switch (byte()) {
        case TagInt8:
            return qint8(byte());
        case TagInt16: {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(take(2));
            return qint16(quint16(p[0] | p[1] << 8));
        }
        case TagInt32:
            return qint32(le32());
        default:
            throw RegisterError(valueErrorText());
        }
    }

    // A text value as Windows-1251 bytes, at most `width` of them kept.
    QByteArray text(int width)
    {
        switch (byte()) {
        case TagText: {
            const qint64 n = byte();
            return clip(take(n), n, width);
        }
        case TagLongText: {
            const qint64 n = le32();
            return clip(take(n), n, width);
        }
        case TagUtf8Text: {
            const qint64 n = le32();
            const char* p = take(n);
            return Text1251::fromUtf8(QByteArray::fromRawData(p, n));
        }
        case TagWideText: {
            const qint64 units = le32();
            const char* p = take(units * 2);
            QString s(units, Qt::Uninitialized);
            for (qint64 i = 0; i < units; ++i)
                s[i] = QChar(char16_t(static_cast<unsigned char>(p[2 * i]) | static_cast<unsigned char>(p[2 * i + 1]) << 8));
            return Text1251::fromUnicode(s);
        }
        default:
            throw RegisterError(valueErrorText());
        }
    }

private:
    void need(qint64 n) const
    {
        if (n < 0 || n > remaining())
            throw RegisterError(readErrorText());
    }

    static QByteArray clip(const char* p, qint64 n, int width)
    {
        // Only the field's width survives; copying more would only be cut again.
        return QByteArray(p, int(qMin<qint64>(n, width)));
    }

    const unsigned char* m_data;
    qint64 m_size;
    qint64 m_pos = 0;
};

} // namespace

namespace DataFormat {

QByteArray write(const RecordStore& store)
{
    if (!store.isActive())
        throw RegisterError(QStringLiteral("MTTrinkets: Cannot perform this operation on a closed dataset"));
    QByteArray out;
    out.reserve(13 + qsizetype(store.count()) * 64);
    out.append(Signature, 4);
    writeInteger(out, FormatVersion);
    out.append("\x01\x00\x01\x00\x01", 5);
    for (const Record& r : store.rows()) {
        out.append(char(TagList));
        writeInteger(out, 0);
        for (int i = 0; i < FieldCount; ++i) {
            const Field f = Field(i);
            if (r.isNull(f)) {
                out.append(char(TagTrue));
                continue;
            }
            out.append(char(TagFalse));
            if (isIntegerField(f))
                writeInteger(out, r.asInteger(f));
            else
                writeText(out, r.asText(f));
        }
        out.append(char(TagEnd));
    }
    out.append(char(TagEnd));
    return out;
}

qint64 read(RecordStore& store, const char* data, qint64 size)
{
    if (size <= 0)
        return 0;
    Reader in(data, size);
    if (std::memcmp(in.take(4), Signature, 4) != 0)
        throw RegisterError(formatErrorText());
    if (in.integer() != FormatVersion)
        throw RegisterError(formatErrorText());
    // Field and index definitions are never written; a file that has any is not ours.
    for (int list = 0; list < 2; ++list) {
        in.expect(TagList);
        in.expect(TagEnd);
    }
    in.expect(TagList);
    while (in.peek() != TagEnd) {
        in.expect(TagList);
        in.integer();   // status, always 0
        Record r;
        for (int i = 0; i < FieldCount; ++i) {
            const Field f = Field(i);
            if (in.byte() == TagTrue)
                continue;
            if (isIntegerField(f))
                r.setInteger(f, in.integer());
            else
                r.setText(f, in.text(textFieldWidth(f)));
        }
        in.expect(TagEnd);
        store.append(r);
    }
    in.byte();
    return in.position();
}

} // namespace DataFormat
