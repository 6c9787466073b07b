#pragma once

#include <QByteArray>

#include <functional>

class RecordStore;

// The data file's byte format: a stream of tagged values.
namespace DataFormat {
// The whole stream for the register's records in row order. Throws RegisterError when the
// register is closed.
QByteArray write(const RecordStore& store);
// Appends the stream's records to the register. Throws RegisterError with "Stream read error",
// "Invalid stream format" or "Invalid property value"; records completed before the error stay.
// Gives back the number of bytes the stream took (the rest of the data is never looked at).
qint64 read(RecordStore& store, const char* data, qint64 size);
inline qint64 read(RecordStore& store, const QByteArray& bytes)
{
    return read(store, bytes.constData(), bytes.size());
}
// Fills the buffer with up to `max` further bytes of the file: the count, 0 at its end, -1 on
// an error (read as "Stream read error").
using Fetch = std::function<qint64(char* buffer, qint64 max)>;
// The same from a file read piece by piece: only what the stream takes is read, so whatever
// follows its end, however long, is never looked at.
qint64 read(RecordStore& store, const Fetch& fetch);
} // namespace DataFormat
