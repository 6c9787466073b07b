#include "register/dataformat.h"

#include "register/recordstore.h"
#include "register/registererror.h"
#include "register/text1251.h"

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

QString readErrorText()
{
    return QStringLiteral("Stream read error");
}
QString formatErrorText()
{
    return QStringLiteral("Invalid stream format");
}
QString valueErrorText()
{
    return QStringLiteral("Invalid property value");
}

// The writer fills a raw buffer: one bounds check per record instead of one per byte.
class Writer
{
public:
    // The most one record can take: three 5-byte integers, three 32-byte and one 80-byte text
    // of up to three UTF-8 bytes per character, tags, flags and lengths, and the slack of the
    // text copy.
    static constexpr qsizetype MaxRecord = 4 + 3 * 6 + 3 * (6 + 32 * 3) + (6 + 80 * 3) + 3;

    // Sized for `expected` bytes and the copy slack of the last record, so that an exact size never
    // moves the buffer (a move holds it twice); `spare` more is only reserved.
    explicit Writer(qsizetype expected, qsizetype spare = 0)
    {
        m_out.reserve(expected + MaxRecord + spare);
        m_out.resize(expected + MaxRecord);
        m_p = m_out.data();
    }

    void room(qsizetype n)
    {
        const qsizetype used = m_p - m_out.data();
        if (m_out.size() - used < n) {
            m_out.resize(qMax(m_out.size() * 2, used + n));
            m_p = m_out.data() + used;
        }
    }

    void byte(unsigned char b) { *m_p++ = char(b); }
    void bytes(const char* d, qsizetype n)
    {
        std::memcpy(m_p, d, size_t(n));
        m_p += n;
    }
    void le32(quint32 v)
    {
        byte(v & 0xFF);
        byte((v >> 8) & 0xFF);
        byte((v >> 16) & 0xFF);
        byte((v >> 24) & 0xFF);
    }

    static qsizetype integerSize(qint32 v) { return v >= -128 && v <= 127 ? 2 : v >= -32768 && v <= 32767 ? 3 : 5; }

    void integer(qint32 v)
    {
        if (v >= -128 && v <= 127) {
            byte(TagInt8);
            byte(static_cast<unsigned char>(v));
        } else if (v >= -32768 && v <= 32767) {
            byte(TagInt16);
            byte(v & 0xFF);
            byte((v >> 8) & 0xFF);
        } else {
            byte(TagInt32);
            le32(quint32(v));
        }
    }

    // The bytes one text takes.
    static qsizetype textSize(QByteArrayView t)
    {
        const auto* d = reinterpret_cast<const unsigned char*>(t.data());
        const qsizetype n = t.size();
        if (isPlain(d, n))
            return (n <= 255 ? 2 : 5) + n;
        const Utf8Table& u = utf8Table();
        qsizetype utf8 = 0;
        for (qsizetype i = 0; i < n; ++i)
            utf8 += u.length[d[i]];
        return 5 + utf8;
    }

    void text(QByteArrayView t)
    {
        const auto* d = reinterpret_cast<const unsigned char*>(t.data());
        const qsizetype n = t.size();
        if (isPlain(d, n)) {
            if (n <= 255) {
                byte(TagText);
                byte(static_cast<unsigned char>(n));
            } else {
                byte(TagLongText);
                le32(quint32(n));
            }
            bytes(t.data(), n);
            return;
        }
        const Utf8Table& u = utf8Table();
        qsizetype utf8 = 0;
        for (qsizetype i = 0; i < n; ++i)
            utf8 += u.length[d[i]];
        byte(TagUtf8Text);
        le32(quint32(utf8));
        // Four bytes copied for each character, the pointer moved by its length: room() leaves
        // the slack past the record's end.
        for (qsizetype i = 0; i < n; ++i) {
            std::memcpy(m_p, u.bytes[d[i]], 4);
            m_p += u.length[d[i]];
        }
    }

    qsizetype size() const { return m_p - m_out.constData(); }

    QByteArray finish()
    {
        m_out.truncate(m_p - m_out.data());
        return std::move(m_out);
    }

private:
    // Every byte below 0x80, checked eight at a time.
    static bool isPlain(const unsigned char* d, qsizetype n)
    {
        quint64 high = 0;
        qsizetype i = 0;
        for (; i + 8 <= n; i += 8) {
            quint64 w;
            std::memcpy(&w, d + i, 8);
            high |= w;
        }
        for (; i < n; ++i)
            high |= d[i];
        return (high & 0x8080808080808080ULL) == 0;
    }

    // UTF-8 of every Windows-1251 byte, taken from the codec once.
    struct Utf8Table
    {
        char bytes[256][4] {};
        unsigned char length[256] {};
        Utf8Table()
        {
            for (int b = 0; b < 256; ++b) {
                const QByteArray u = Text1251::toUtf8(QByteArray(1, char(b)));
                length[b] = static_cast<unsigned char>(qMin<qsizetype>(u.size(), 3));
                std::memcpy(bytes[b], u.constData(), length[b]);
            }
        }
    };
    static const Utf8Table& utf8Table()
    {
        static const Utf8Table t;
        return t;
    }

    QByteArray m_out;
    char* m_p = nullptr;
};

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

    explicit Reader(const DataFormat::Fetch& fetch)
        : m_fetch(&fetch)
    {
    }

    // False when the file has no byte at all.
    bool start() { return fetchAtLeast(1, false); }

    qint64 position() const { return m_base + m_pos; }
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

    // A text value as Windows-1251 bytes into `out`, which has room for `width`: what a record
    // keeps of it, up to its first NUL and at most `width` bytes. Gives back the length.
    int text(char* out, int width)
    {
        switch (byte()) {
        case TagText: {
            const qint64 n = byte();
            return clip(take(n), n, out, width);
        }
        case TagLongText: {
            const qint64 n = le32();
            return clip(take(n), n, out, width);
        }
        case TagUtf8Text: {
            const qint64 n = le32();
            const char* p = take(n);
            const int length = fromUtf8(p, n, out, width);
            if (length >= 0)
                return length;
            const QByteArray t = Text1251::fromUtf8(QByteArray::fromRawData(p, n));
            return clip(t.constData(), t.size(), out, width);
        }
        case TagWideText: {
            const qint64 units = le32();
            const char* p = take(units * 2);
            QString s(units, Qt::Uninitialized);
            for (qint64 i = 0; i < units; ++i)
                s[i] = QChar(
                    char16_t(static_cast<unsigned char>(p[2 * i]) | static_cast<unsigned char>(p[2 * i + 1]) << 8));
            const QByteArray t = Text1251::fromUnicode(s);
            return clip(t.constData(), t.size(), out, width);
        }
        default:
            throw RegisterError(valueErrorText());
        }
    }

private:
    void need(qint64 n)
    {
        if (n < 0 || (n > remaining() && !fetchAtLeast(n, true)))
            throw RegisterError(readErrorText());
    }

    // Moves the unread bytes to the buffer's start and reads on until n are there. The one
    // buffer is kept for the whole stream: it starts small and doubles while the file fills it
    // (up to Piece), or when a value needs more than it holds. It grows only by bytes actually
    // read, so a lying length never allocates, and no read asks for more than Piece, so at most
    // that much past the stream's end is read. Pointers handed out before are void afterwards;
    // each is used before the next read.
    bool fetchAtLeast(qint64 n, bool mustGet)
    {
        if (!m_fetch)
            return false;
        constexpr qint64 FirstPiece = 4096;
        constexpr qint64 Piece = 256 << 10;
        qint64 have = remaining();
        if (have > 0 && m_pos > 0)
            std::memmove(m_buffer.data(), m_data + m_pos, size_t(have));
        m_base += m_pos;
        m_pos = 0;
        while (have < n) {
            const qint64 size = m_buffer.size();
            if (have == size || (m_filled && size < Piece))
                m_buffer.resize(qsizetype(qMax(FirstPiece, size * 2)));
            const qint64 room = qMin(m_buffer.size() - have, Piece);
            const qint64 got = (*m_fetch)(m_buffer.data() + have, room);
            if (got < 0)
                throw RegisterError(readErrorText());
            if (got == 0)
                break;
            m_filled = got == room;
            have += got;
        }
        m_data = reinterpret_cast<const unsigned char*>(m_buffer.constData());
        m_size = have;
        if (have < n && mustGet)
            throw RegisterError(readErrorText());
        return have >= n;
    }

    static int clip(const char* p, qint64 n, char* out, int width)
    {
        // Only the field's width survives, up to a NUL.
        const int kept = int(qMin<qint64>(n, width));
        const void* nul = std::memchr(p, 0, size_t(kept));
        const int length = nul ? int(static_cast<const char*>(nul) - p) : kept;
        std::memcpy(out, p, size_t(length));
        return length;
    }

    // Well-formed UTF-8 of the Basic Multilingual Plane converted as the codec would, character
    // by character, up to a NUL or `width` bytes; -1 for anything else (malformed sequences,
    // surrogates, other planes), which the codec itself then converts.
    static int fromUtf8(const char* text, qint64 n, char* out, int width)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        int length = 0;
        qint64 i = 0;
        while (i < n && length < width) {
            const unsigned c = p[i];
            char16_t u;
            if (c < 0x80) {
                u = char16_t(c);
                i += 1;
            } else if (c >= 0xC2 && c < 0xE0 && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
                u = char16_t((c & 0x1F) << 6 | (p[i + 1] & 0x3F));
                i += 2;
            } else if (c >= 0xE0 && c < 0xF0 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
                u = char16_t((c & 0x0F) << 12 | (p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F));
                if (u < 0x800 || (u >= 0xD800 && u < 0xE000))
                    return -1;
                i += 3;
            } else {
                return -1;
            }
            if (u == 0)
                return length;
            if (u == 0xFEFF) // a byte-order mark: the codec's own rules
                return -1;
            out[length++] = Text1251::fromUnicodeChar(u);
        }
        // What follows cannot change the characters before it.
        return length;
    }

    const unsigned char* m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_pos = 0;
    // Reading from a file: the bytes held so far and how many were dropped before them.
    const DataFormat::Fetch* m_fetch = nullptr;
    QByteArray m_buffer;
    qint64 m_base = 0;
    bool m_filled = false; // the last read took all the room it was given
};

} // namespace

namespace DataFormat {

namespace {
    void requireOpen(const RecordStore& store)
    {
        if (!store.isActive())
            throw RegisterError(QStringLiteral("MTTrinkets: Cannot perform this operation on a closed dataset"));
    }

    qsizetype rowsSize(const RecordStore& store, int first, int last)
    {
        qsizetype size = 0;
        for (int row = first; row < last; ++row) {
            // Its list's tag, status and end, and a null flag per field.
            size += 4 + FieldCount;
            for (int i = 0; i < FieldCount; ++i) {
                const Field f = Field(i);
                if (store.isNullAt(row, f))
                    continue;
                if (isIntegerField(f))
                    size += Writer::integerSize(store.integerAt(row, f));
                else
                    size += Writer::textSize(store.textAt(row, f));
            }
        }
        return size;
    }

    // `base` is where the writer's output stands in the stream.
    void writeRows(Writer& out, const RecordStore& store, int first, int last, qint64 base, std::vector<quint32>* ends)
    {
        for (int row = first; row < last; ++row) {
            out.room(Writer::MaxRecord);
            out.byte(TagList);
            out.integer(0);
            for (int i = 0; i < FieldCount; ++i) {
                const Field f = Field(i);
                if (store.isNullAt(row, f)) {
                    out.byte(TagTrue);
                    continue;
                }
                out.byte(TagFalse);
                if (isIntegerField(f))
                    out.integer(store.integerAt(row, f));
                else
                    out.text(store.textAt(row, f));
            }
            out.byte(TagEnd);
            if (ends)
                ends->push_back(quint32(base + out.size()));
        }
    }
} // namespace

QByteArray write(const RecordStore& store, std::vector<quint32>* ends, bool roomToGrow)
{
    requireOpen(store);
    // Sized exactly first, so a save holds one copy of the file.
    const qsizetype size = StartSize + rowsSize(store, 0, store.count()) + 1;
    Writer out(size, roomToGrow ? size / 16 : 0);
    out.bytes(Signature, 4);
    out.integer(FormatVersion);
    out.bytes("\x01\x00\x01\x00\x01", 5);
    Q_ASSERT(out.size() == StartSize);
    if (ends) {
        ends->clear();
        ends->reserve(size_t(store.count()) + 1 + (roomToGrow ? size_t(store.count()) / 16 : 0));
        ends->push_back(quint32(StartSize));
    }
    writeRows(out, store, 0, store.count(), 0, ends);
    out.byte(TagEnd);
    Q_ASSERT(out.size() == size);
    return out.finish();
}

QByteArray writeRows(const RecordStore& store, int first, int last, qint64 base, std::vector<quint32>* ends)
{
    requireOpen(store);
    const qsizetype size = rowsSize(store, first, last);
    Writer out(size);
    writeRows(out, store, first, last, base, ends);
    Q_ASSERT(out.size() == size);
    return out.finish();
}

namespace {
    qint64 readStream(RecordStore& store, Reader& in)
    {
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
            in.integer(); // status, always 0
            unsigned nulls = 0;
            qint32 ints[3] = {};
            char buffer[32 * 3 + 80];
            QByteArrayView texts[4];
            char* p = buffer;
            for (int i = 0; i < FieldCount; ++i) {
                const Field f = Field(i);
                if (in.byte() == TagTrue) {
                    nulls |= 1u << i;
                    continue;
                }
                if (isIntegerField(f)) {
                    ints[i] = in.integer();
                } else {
                    const int length = in.text(p, textFieldWidth(f));
                    texts[i - 3] = QByteArrayView(p, length);
                    p += length;
                }
            }
            in.expect(TagEnd);
            store.append(nulls, ints, texts);
        }
        in.byte();
        return in.position();
    }
} // namespace

qint64 read(RecordStore& store, const char* data, qint64 size)
{
    if (size <= 0)
        return 0;
    Reader in(data, size);
    return readStream(store, in);
}

qint64 read(RecordStore& store, const Fetch& fetch)
{
    Reader in(fetch);
    if (!in.start())
        return 0;
    return readStream(store, in);
}

} // namespace DataFormat
