#pragma once

#include <QByteArray>
#include <QString>

// A file opened for reading and writing and held exclusively until released: no other opener
// that respects locks can open it meanwhile. The platform-specific part of the register.
class HeldFile final
{
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // An existing file only. False when missing, locked by another holder or not writable.
    bool openExisting(const QString& path, QString* error = nullptr);
    // Creates the file or cuts an existing one to zero length, taking the lock first, so a file
    // held by someone else is never cut.
    bool createAnew(const QString& path, QString* error = nullptr);
    bool isOpen() const;
    void release();

    bool readAll(QByteArray* out);
    qint64 size() const;
    // Writes the bytes at offset 0 in one call and flushes them to the disk. The file never
    // shrinks. False on any failure.
    bool writeAtStart(const QByteArray& bytes);

    // Copies source over target in 4096-byte blocks without cutting the target, then clears the
    // target's read-only bit. Both are opened so that a file held by HeldFile cannot be used.
    // False when a file cannot be opened or a block is read or written short.
    static bool copyOver(const QString& source, const QString& target);

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
