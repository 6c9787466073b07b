#pragma once

// The per-platform half of HeldFile: each platform's file (heldfile_posix.cpp, heldfile_win.cpp)
// defines these primitives, and heldfile.cpp builds the held file and its helpers on them once.

#include "register/heldfile.h"

#include <QByteArray>
#include <QString>

namespace heldfile {

// A descriptor on POSIX, a HANDLE on Windows; NoHandle is -1 on both (INVALID_HANDLE_VALUE).
using Handle = qintptr;
constexpr Handle NoHandle = -1;
constexpr qint64 CopyBlock = 4096;

enum class Access
{
    Read, // shared lock, others may read
    ReadWrite, // exclusive lock
};

enum class Make
{
    Existing,
    OpenOrCreate,
    CreateNew, // fails when the name exists; never follows a link
    OpenOrCreateNoLink, // as OpenOrCreate, but a link in the name's place is refused
};

enum class Kind
{
    Missing,
    Regular,
    Link,
    Other,
};

// The recorder HeldFile::setRecorder set; null unless a crash-state explorer runs. Each primitive
// that changes the disk tells it what it did, after doing it, behind an `if (recorder)`.
extern HeldFile::Recorder recorder;

inline void tellHandle(HeldFile::Operation::Kind kind, qintptr handle, qint64 offset = 0, qint64 size = 0,
                       QByteArrayView data = {})
{
    recorder({kind, handle, QString(), QString(), offset, size, data, false});
}

inline void tellName(HeldFile::Operation::Kind kind, const QString& path, const QString& target = QString(),
                     qintptr handle = -1, bool created = false)
{
    recorder({kind, handle, path, target, 0, 0, {}, created});
}

inline void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Opens a regular file and takes its lock; anything else in its place is refused without blocking.
Handle openRegular(const QString& path, Access access, Make make, bool* created, QString* error);
bool readOnly(Handle h, const QString& path);
// Whether the file belongs to the user running the tool.
bool ownedByUser(Handle h);
// Device and file number: what tells one file from another whatever its name.
QByteArray identityOf(Handle h);
void makeOwnerWritable(Handle h, const QString& path);
void takeModeOf(Handle from, Handle to);
qint64 sizeOf(Handle h);
qint64 readAtRaw(Handle h, qint64 offset, char* buffer, qint64 n);
bool writeAtRaw(Handle h, qint64 offset, const char* data, qint64 n);
bool setLength(Handle h, qint64 size);
// Room on the disk for `size` bytes; false on a refusal (no space, quota, size limit).
bool allocate(Handle h, qint64 size);
bool flushData(Handle h);
void closeHandle(Handle h);
bool removeName(const QString& path);
bool renameOver(const QString& from, const QString& to);
void flushFolderOf(const QString& path);
// Creates one folder whose parent exists, private to the user, flushed into its parent.
bool makeFolder(const QString& absolutePath);
Kind kindOf(const QString& path);

} // namespace heldfile
