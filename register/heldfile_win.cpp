#include "register/heldfile_p.h"

#include <QDir>
#include <QFileInfo>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Share mode 0 is the lock: nobody else can open the file while the handle lives.

namespace heldfile {
namespace {
    HANDLE native(Handle h)
    {
        return reinterpret_cast<HANDLE>(h);
    }

    LPCWSTR wide(const QString& path)
    {
        return reinterpret_cast<LPCWSTR>(path.utf16());
    }
} // namespace

Handle openRegular(const QString& path, Access access, Make make, bool* created, QString* error)
{
    const DWORD rights = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD share = access == Access::Read ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    const DWORD disposition = make == Make::Existing ? OPEN_EXISTING
        : make == Make::CreateNew                    ? CREATE_NEW
                                                     : OPEN_ALWAYS;
    HANDLE h = CreateFileW(
        wide(path), rights, share, nullptr, disposition,
        FILE_ATTRIBUTE_NORMAL
            | (make == Make::CreateNew || make == Make::OpenOrCreateNoLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
        nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setError(error, QStringLiteral("Windows error %1").arg(GetLastError()));
        return NoHandle;
    }
    *created = make == Make::CreateNew
        || ((make == Make::OpenOrCreate || make == Make::OpenOrCreateNoLink) && GetLastError() != ERROR_ALREADY_EXISTS);
    // A device or a pipe opens like a file; only a disk file is taken.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        setError(error, QStringLiteral("Not a regular file"));
        return NoHandle;
    }
    if (recorder)
        tellName(HeldFile::Operation::Open, path, QString(), reinterpret_cast<Handle>(h), *created);
    return reinterpret_cast<Handle>(h);
}

bool readOnly(Handle, const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Files in a user's folders are that user's; a shared folder's ACLs are not inspected.
bool ownedByUser(Handle)
{
    return true;
}

QByteArray identityOf(Handle h)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(native(h), &info))
        return QByteArray();
    return QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ':'
        + QByteArray::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

void makeOwnerWritable(Handle, const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(wide(path), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

void takeModeOf(Handle, Handle)
{
    // Attributes other than read-only are not carried over.
}

qint64 sizeOf(Handle h)
{
    LARGE_INTEGER s {};
    return GetFileSizeEx(native(h), &s) ? s.QuadPart : -1;
}

qint64 readAtRaw(Handle h, qint64 offset, char* buffer, qint64 n)
{
    OVERLAPPED at {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(native(h), buffer, DWORD(qMin<qint64>(n, 1 << 30)), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool writeAtRaw(Handle h, qint64 offset, const char* data, qint64 n)
{
    while (n > 0) {
        OVERLAPPED at {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(quint64(offset) >> 32);
        DWORD put = 0;
        if (!WriteFile(native(h), data, DWORD(qMin<qint64>(n, 1 << 30)), &put, &at) || put == 0)
            return false;
        if (recorder)
            tellHandle(HeldFile::Operation::Write, h, offset, 0, QByteArrayView(data, qsizetype(put)));
        data += put;
        offset += put;
        n -= put;
    }
    return true;
}

bool setLength(Handle h, qint64 size)
{
    LARGE_INTEGER at {};
    at.QuadPart = size;
    if (!SetFilePointerEx(native(h), at, nullptr, FILE_BEGIN) || !SetEndOfFile(native(h)))
        return false;
    if (recorder)
        tellHandle(HeldFile::Operation::SetLength, h, 0, size);
    return true;
}

// Setting the end of file allocates the clusters, so a full disk is refused here.
bool allocate(Handle h, qint64 size)
{
    return setLength(h, size);
}

bool flushData(Handle h)
{
    if (!FlushFileBuffers(native(h)))
        return false;
    if (recorder)
        tellHandle(HeldFile::Operation::FlushData, h);
    return true;
}

void closeHandle(Handle h)
{
    CloseHandle(native(h));
    if (recorder)
        tellHandle(HeldFile::Operation::Close, h);
}

bool removeName(const QString& path)
{
    if (!DeleteFileW(wide(path)))
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (recorder)
        tellName(HeldFile::Operation::Remove, path);
    return true;
}

bool renameOver(const QString& from, const QString& to)
{
    if (!MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    if (recorder)
        tellName(HeldFile::Operation::Rename, from, to);
    return true;
}

void flushFolderOf(const QString&)
{
    // MOVEFILE_WRITE_THROUGH and the file's own flush cover the folder entry.
}

bool makeFolder(const QString& absolute)
{
    const QString folder = QDir::toNativeSeparators(absolute);
    return CreateDirectoryW(wide(folder), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

Kind kindOf(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Kind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Other : Kind::Regular;
}

} // namespace heldfile
