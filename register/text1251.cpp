#include "text1251.h"

#include <QStringDecoder>

#include <array>
#include <vector>

namespace {

// Both directions come from Qt's codec once; the per-text work is then a table look-up, which
// keeps loading a large register cheap.
struct Tables
{
    std::array<char16_t, 256> toUnicode {};
    std::vector<unsigned char> fromUnicode;   // indexed by UTF-16 unit; 0 = no byte (except U+0000)
    std::array<unsigned char, 256> upper {};

    Tables()
        : fromUnicode(0x10000, 0)
    {
        QStringDecoder decoder("windows-1251");
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            const QString s = decoder.decode(QByteArrayView(&byte, 1));
            toUnicode[size_t(b)] = s.size() == 1 ? char16_t(s.at(0).unicode()) : char16_t(0xFFFD);
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
