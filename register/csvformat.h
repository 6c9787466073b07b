#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

// Comma-separated text as spreadsheets write it (RFC 4180), over bytes: the structure is ASCII,
// so UTF-8 and Windows-1251 files are split the same way and decoded field by field afterwards.
namespace Csv {

// One record: the fields quoted where they must be, joined by the separator, ended by CRLF.
void appendRecord(QByteArray& out, const QList<QByteArray>& fields, char separator);

// Reads one record at a time from a device, never holding more than one record and one buffer
// of input: a record longer than the limit, an unclosed quote and stray quotes are errors.
class Reader final
{
public:
    Reader(QIODevice& device, char separator, qsizetype maxRecordBytes);
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    enum class Status
    {
        Record,
        End,
        Error,
    };
    Status next(QList<QByteArray>* fields);
    // The line the last record started on, counting from 1.
    int line() const { return m_recordLine; }
    QString error() const { return m_error; }

private:
    bool fill();
    int get();
    int peek();
    Status fail(const QString& message);

    QIODevice& m_device;
    char m_separator;
    qsizetype m_maxRecordBytes;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    int m_line = 1;
    int m_recordLine = 1;
    QString m_error;
};

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF),
// fed in pieces that may split a sequence.
class Utf8Check final
{
public:
    void feed(const char* data, qsizetype size);
    bool valid() const { return !m_bad && m_pending == 0; }

private:
    int m_pending = 0;
    unsigned char m_lower = 0x80;
    unsigned char m_upper = 0xBF;
    bool m_bad = false;
};

} // namespace Csv
