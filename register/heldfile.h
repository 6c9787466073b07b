#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A file opened for reading and writing and held exclusively until released: no other opener
// that respects locks can open it meanwhile. With the static helpers below, the platform-specific
// part of the register. Only regular files are ever opened: a FIFO, a device or a folder in a
// file's place is refused without blocking on it.
class HeldFile final
{
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // An existing file only. False when missing, locked by another holder or not writable.
    bool openExisting(const QString& path, QString* error = nullptr);
    // Opens the file, creating it when missing, and takes the lock; nothing is cut. A file it
    // creates is writable by its owner whatever the umask. Without throughLinks a link in the
    // name's place is refused.
    bool openOrCreate(const QString& path, QString* error = nullptr, bool throughLinks = true);
    // openOrCreate, then cut to zero length: the lock comes first, so a file held by someone
    // else is never cut.
    bool createAnew(const QString& path, QString* error = nullptr);
    // A side file of ours: opened or created, never through a link, and refused unless it is a
    // regular file owned by the user and writable.
    bool openSideFile(const QString& path, QString* error = nullptr);
    // Read-only, with a shared lock: a file that a running copy of the tool holds is refused.
    bool openForReading(const QString& path, QString* error = nullptr);
    bool isOpen() const;
    // Whether this holder created the file it holds.
    bool created() const { return !m_createdPath.isEmpty(); }
    // From now on the file counts as found, not created: discard() leaves it.
    void keepCreated() { m_createdPath.clear(); }
    bool ownedByUser() const;
    // Tells this file from any other on the machine, whatever its name; empty when unknown.
    QByteArray identity() const;
    void release();
    // Releases the file and removes it when this holder created it: a failed repair leaves no
    // file behind that was not there before.
    void discard();

    qint64 size() const;
    // Up to n bytes from offset: the count read, 0 at the end, -1 on an error.
    qint64 readAt(qint64 offset, char* buffer, qint64 n) const;
    bool writeAt(qint64 offset, const char* data, qint64 n);
    // Makes the disk hold room for `size` bytes, growing the file to that length when it is
    // shorter, so that writes within it cannot run out of space. On a refusal (no space, quota,
    // size limit) the file keeps its length and false comes back.
    bool reserve(qint64 size);
    bool truncate(qint64 size);
    // Flushes the written bytes to the disk.
    bool flush();
    // Writes the bytes at offset 0 and flushes them. The file never shrinks.
    bool writeAtStart(const QByteArray& bytes);

    // Creates a new file with these bytes, flushed to the disk together with its folder entry.
    // A file or link of that name is removed first, never written through. On a failure no file
    // of that name remains.
    static bool writeNewFile(const QString& path, const QByteArray& bytes);
    // Removes the name and flushes its folder; false when it could not be removed.
    static bool removeFile(const QString& path);
    // Makes a created, renamed or removed name of that folder reach the disk.
    static void flushFolder(const QString& path);
    // Renames to a name not yet taken, flushed with the folder.
    static bool renameAside(const QString& path, const QString& newPath);
    static bool isLink(const QString& path);
    // Whether anything, even a dangling link, has that name.
    static bool nameTaken(const QString& path);
    static bool isRegularName(const QString& path);
    // Creates a private folder and its missing parents.
    static bool makeFolders(const QString& path);
    // Copies source over target: the new bytes, then whatever the old target held beyond them,
    // are built in a file beside the target, flushed, and renamed into its place, so a reader of
    // the target sees the old copy or the new one, never a mix. A link named target is replaced,
    // not written through. False, leaving the target as it was, when source is missing, held or
    // not a regular file, or when the target is read-only, held, or neither a regular file nor
    // a link. Where no file can be made beside it, a regular target has the copy written over
    // its own bytes instead.
    static bool copyOver(const QString& source, const QString& target);

    // One file operation that changed the disk or its durability, told after it succeeded.
    struct Operation
    {
        enum Kind
        {
            Open, // handle opened on path; created when this open made the name
            Write, // data written at offset through handle (one system call's worth)
            SetLength, // the file of handle cut or grown to size
            Allocate, // room for size bytes: the file of handle grown to size when shorter
            FlushData, // the file of handle flushed
            Close, // handle closed
            Remove, // the name path removed
            Rename, // the name path moved over target
            FlushFolder, // the folder path flushed, with the names in it
        };
        Kind kind;
        qintptr handle = -1;
        QString path;
        QString target;
        qint64 offset = 0;
        qint64 size = 0;
        QByteArrayView data;
        bool created = false;
    };
    using Recorder = void (*)(const Operation&);
    // The crash-state explorer's seam: every operation above goes to the recorder, none when it is
    // null (the default). Not for concurrent use: set it while no file is being worked on.
    static void setRecorder(Recorder recorder);

private:
    // A descriptor, or a HANDLE on Windows; -1 when none is held.
    qintptr m_handle = -1;
    QString m_createdPath;
};
