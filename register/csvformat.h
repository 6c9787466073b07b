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
// fed in pieces that may split a sequence. Counts the well-formed sequences of more than one
// byte and the ill-formed ones, so that a UTF-8 text with a stray byte can be told from text
// in a one-byte encoding.
class Utf8Check final
{
public:
    void feed(const char* data, qsizetype size);
    bool valid() const { return invalid() == 0; }
    qint64 sequences() const { return m_sequences; }
    qint64 invalid() const { return m_invalid + (m_pending > 0 ? 1 : 0); }
    // The line, counting from 1, of the first ill-formed sequence.
    int firstInvalidLine() const { return m_invalid > 0 ? m_firstInvalidLine : m_line; }

private:
    void bad();
    // After the lead byte `lead`: the lead that starts with a narrower lowest continuation byte,
    // and the one that ends with a narrower highest, each with its bound.
    struct Bound
    {
        unsigned char lead;
        unsigned char bound;
    };
    void narrowFirst(unsigned char lead, Bound lowest, Bound highest);

    int m_pending = 0;
    unsigned char m_lower = 0x80;
    unsigned char m_upper = 0xBF;
    qint64 m_sequences = 0;
    qint64 m_invalid = 0;
    int m_line = 1;
    int m_firstInvalidLine = 0;
};

} // namespace Csv
