#include "register/text1251.h"

#include <array>
#include <vector>

namespace {

// Windows-1251 above ASCII, written out: Qt for Windows has no named codecs without ICU, and
// the register must read the same everywhere. 0x98, unassigned, maps to U+0098 and back.
constexpr char16_t High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я in order.
};

// The per-text work is a table look-up, which keeps loading a large register cheap.
struct Tables
{
    std::array<char16_t, 256> toUnicode {};
    std::vector<unsigned char> fromUnicode; // indexed by UTF-16 unit; 0 = no byte (except U+0000)
    std::array<unsigned char, 256> upper {};

    Tables()
        : fromUnicode(0x10000, 0)
    {
        for (int b = 0; b < 256; ++b) {
            toUnicode[size_t(b)] = b < 0x80 ? char16_t(b) : b < 0xC0 ? High[b - 0x80] : char16_t(0x0410 + (b - 0xC0));
        }
        for (int b = 255; b >= 1; --b) {
            const char16_t u = toUnicode[size_t(b)];
            if (u != 0xFFFD)
                fromUnicode[u] = static_cast<unsigned char>(b);
        }
        for (int b = 0; b < 256; ++b) {
            const QChar c(toUnicode[size_t(b)]);
            const QChar u = c.toUpper();
            const unsigned char ub = fromUnicode[u.unicode()];
            upper[size_t(b)] = (u != c && ub != 0) ? ub : static_cast<unsigned char>(b);
        }
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

QByteArray encode(QStringView text)
{
    const Tables& t = tables();
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out.append('?');
            ++i;
            continue;
        }
        const unsigned char b = t.fromUnicode[u];
        out.append(b != 0 || u == 0 ? char(b) : '?');
    }
    return out;
}

} // namespace

namespace Text1251 {

QByteArray fromUnicode(const QString& text)
{
    return encode(text);
}

QString toUnicode(const QByteArray& bytes)
{
    const Tables& t = tables();
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        d[i] = QChar(t.toUnicode[static_cast<unsigned char>(bytes[i])]);
    return out;
}

char fromUnicodeChar(char16_t unit)
{
    if (QChar::isSurrogate(unit))
        return '?';
    const unsigned char b = tables().fromUnicode[unit];
    return b != 0 || unit == 0 ? char(b) : '?';
}

QChar toUnicodeChar(unsigned char byte)
{
    return QChar(tables().toUnicode[byte]);
}

QByteArray fromUtf8(const QByteArray& utf8)
{
    // Malformed sequences decode to U+FFFD, which has no byte and becomes '?'.
    return encode(QString::fromUtf8(utf8));
}

QByteArray toUtf8(const QByteArray& bytes)
{
    return toUnicode(bytes).toUtf8();
}

QByteArray toUpper(const QByteArray& bytes)
{
    const Tables& t = tables();
    QByteArray out(bytes);
    for (char& c : out)
        c = char(t.upper[static_cast<unsigned char>(c)]);
    return out;
}

QByteArray trimmed(const QByteArray& bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && static_cast<unsigned char>(bytes[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(bytes[end - 1]) <= 32)
        --end;
    return bytes.mid(begin, end - begin);
}

} // namespace Text1251
