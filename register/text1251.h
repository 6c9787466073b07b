#pragma once

#include <QByteArray>
#include <QString>

// The register keeps its texts as single-byte Windows-1251 strings; these convert at the edges.
namespace Text1251 {
QByteArray fromUnicode(const QString& text); // unmappable characters become '?'
QString toUnicode(const QByteArray& bytes);
QByteArray fromUtf8(const QByteArray& utf8); // for the data file's UTF-8 texts
QByteArray toUtf8(const QByteArray& bytes);
// One character each way, as the whole-text conversions do it: a UTF-16 unit without a byte
// becomes '?'.
char fromUnicodeChar(char16_t unit);
QChar toUnicodeChar(unsigned char byte);
// Windows-1251 upper-casing: Latin and Cyrillic letters; a letter whose upper-case form has
// no Windows-1251 byte stays as it is.
QByteArray toUpper(const QByteArray& bytes);
// Removes every leading and trailing byte whose code is 32 or below.
QByteArray trimmed(const QByteArray& bytes);
} // namespace Text1251
