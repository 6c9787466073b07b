#pragma once

#include <QByteArray>

#include <functional>
#include <vector>

class RecordStore;

// The data file's byte format: a stream of tagged values.
namespace DataFormat {
// The stream's fixed start, before the first record; one byte closes it after the last.
constexpr qint64 StartSize = 12;
// The whole stream for the register's records in row order, with, when asked, where each record
// ends: ends[0] is the first one's start, ends[row + 1] the end of that row. Throws RegisterError
// when the register is closed. `roomToGrow` reserves a sixteenth more past the stream's end (only
// reserved: untouched, it takes no memory) for it to grow into without being moved.
QByteArray write(const RecordStore& store, std::vector<quint32>* ends = nullptr, bool roomToGrow = false);
// Rows [first, last) alone, as the stream holds them; the end of each, counted from `base` at the
// first one's start, is appended to `ends`.
QByteArray writeRows(const RecordStore& store, int first, int last, qint64 base, std::vector<quint32>* ends);
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
