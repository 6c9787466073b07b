#include "register/heldfile.h"
#include "register/heldfile_p.h"

#include <QFileInfo>

using namespace heldfile;

HeldFile::Recorder heldfile::recorder = nullptr;

void HeldFile::setRecorder(Recorder r)
{
    heldfile::recorder = r;
}

namespace {
bool copyRange(Handle in, qint64 from, Handle out, qint64 to, qint64 n)
{
    char buffer[CopyBlock];
    while (n > 0) {
        const qint64 want = qMin(n, CopyBlock);
        qint64 got = 0;
        while (got < want) {
            const qint64 r = readAtRaw(in, from + got, buffer + got, want - got);
            if (r <= 0)
                return false;
            got += r;
        }
        if (!writeAtRaw(out, to, buffer, want))
            return false;
        from += want;
        to += want;
        n -= want;
    }
    return true;
}
} // namespace

HeldFile::~HeldFile()
{
    release();
}

bool HeldFile::openExisting(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::Existing, &created, error);
    if (h == NoHandle)
        return false;
    if (readOnly(h, path)) {
        setError(error, QStringLiteral("The file is read-only"));
        closeHandle(h);
        return false;
    }
    m_handle = h;
    return true;
}

bool HeldFile::openOrCreate(const QString& path, QString* error, bool throughLinks)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, throughLinks ? Make::OpenOrCreate : Make::OpenOrCreateNoLink,
                                 &created, error);
    if (h == NoHandle)
        return false;
    if (created)
        makeOwnerWritable(h, path);
    else if (readOnly(h, path)) {
        setError(error, QStringLiteral("The file cannot be written"));
        closeHandle(h);
        return false;
    }
    m_handle = h;
    if (created)
        m_createdPath = path;
    return true;
}

bool HeldFile::createAnew(const QString& path, QString* error)
{
    if (!openOrCreate(path, error))
        return false;
    if (!truncate(0)) {
        setError(error, QStringLiteral("The file cannot be written"));
        discard();
        return false;
    }
    return true;
}

bool HeldFile::openSideFile(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::OpenOrCreateNoLink, &created, error);
    if (h == NoHandle)
        return false;
    if (created)
        makeOwnerWritable(h, path);
    if (!heldfile::ownedByUser(h) || readOnly(h, path)) {
        setError(error, QStringLiteral("The file belongs to someone else"));
        closeHandle(h);
        if (created)
            removeName(path);
        return false;
    }
    m_handle = h;
    if (created)
        m_createdPath = path;
    return true;
}

bool HeldFile::openForReading(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::Read, Make::Existing, &created, error);
    if (h == NoHandle)
        return false;
    m_handle = h;
    return true;
}

bool HeldFile::isOpen() const
{
    return m_handle != NoHandle;
}

bool HeldFile::ownedByUser() const
{
    return isOpen() && heldfile::ownedByUser(m_handle);
}

QByteArray HeldFile::identity() const
{
    return isOpen() ? identityOf(m_handle) : QByteArray();
}

void HeldFile::release()
{
    if (isOpen()) {
        closeHandle(m_handle);
        m_handle = NoHandle;
    }
    m_createdPath.clear();
}

void HeldFile::discard()
{
    const QString created = m_createdPath;
    release();
    if (!created.isEmpty())
        removeFile(created);
}

qint64 HeldFile::size() const
{
    return isOpen() ? sizeOf(m_handle) : -1;
}

qint64 HeldFile::readAt(qint64 offset, char* buffer, qint64 n) const
{
    return isOpen() ? readAtRaw(m_handle, offset, buffer, n) : -1;
}

bool HeldFile::writeAt(qint64 offset, const char* data, qint64 n)
{
    return isOpen() && writeAtRaw(m_handle, offset, data, n);
}

bool HeldFile::reserve(qint64 size)
{
    const qint64 old = this->size();
    if (old < 0)
        return false;
    if (size <= old)
        return true;
    if (allocate(m_handle, size))
        return true;
    // Whatever was allocated before the refusal is zeros past the old end: give it back.
    setLength(m_handle, old);
    return false;
}

bool HeldFile::truncate(qint64 size)
{
    return isOpen() && setLength(m_handle, size);
}

bool HeldFile::flush()
{
    return isOpen() && flushData(m_handle);
}

bool HeldFile::writeAtStart(const QByteArray& bytes)
{
    return writeAt(0, bytes.constData(), bytes.size()) && flush();
}

bool HeldFile::writeNewFile(const QString& path, const QByteArray& bytes)
{
    if (!removeName(path))
        return false;
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::CreateNew, &created, nullptr);
    if (h == NoHandle)
        return false;
    makeOwnerWritable(h, path);
    const bool ok = writeAtRaw(h, 0, bytes.constData(), bytes.size()) && flushData(h);
    closeHandle(h);
    if (!ok) {
        removeName(path);
        return false;
    }
    flushFolderOf(path);
    return true;
}

bool HeldFile::removeFile(const QString& path)
{
    if (!removeName(path))
        return false;
    flushFolderOf(path);
    return true;
}

bool HeldFile::renameAside(const QString& path, const QString& newPath)
{
    if (kindOf(newPath) != Kind::Missing || !renameOver(path, newPath))
        return false;
    flushFolderOf(newPath);
    return true;
}

void HeldFile::flushFolder(const QString& path)
{
    flushFolderOf(path);
}

bool HeldFile::isLink(const QString& path)
{
    return kindOf(path) == Kind::Link;
}

bool HeldFile::nameTaken(const QString& path)
{
    return kindOf(path) != Kind::Missing;
}

bool HeldFile::isRegularName(const QString& path)
{
    return kindOf(path) == Kind::Regular;
}

bool HeldFile::makeFolders(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).absolutePath();
    return parent != absolute && makeFolders(parent) && heldfile::makeFolder(absolute);
}

bool HeldFile::copyOver(const QString& source, const QString& target)
{
    if (!QFileInfo::exists(source))
        return false;
    // The shared lock keeps a file that a running copy of the tool holds from being copied
    // half-written.
    HeldFile in;
    if (!in.openForReading(source))
        return false;
    const Kind kind = kindOf(target);
    if (kind == Kind::Other)
        return false;
    // An old target that is read-only or held stays as it is; its bytes past the new ones are
    // carried over, as an in-place copy would leave them.
    HeldFile old;
    if (kind == Kind::Regular) {
        if (!old.openForReading(target) || readOnly(old.m_handle, target))
            return false;
    }

    const QString built = target + QStringLiteral(".tmp");
    bool created = false;
    const Handle out
        = removeName(built) ? openRegular(built, Access::ReadWrite, Make::CreateNew, &created, nullptr) : NoHandle;
    if (out == NoHandle) {
        // A folder that takes no new files (or a name taken by a folder): the old way, in place.
        old.release();
        if (kind != Kind::Regular)
            return false;
        HeldFile inPlace;
        const qint64 n = in.size();
        return n >= 0 && inPlace.openExisting(target) && copyRange(in.m_handle, 0, inPlace.m_handle, 0, n)
            && inPlace.flush();
    }
    if (old.isOpen())
        takeModeOf(old.m_handle, out);
    else
        makeOwnerWritable(out, built);
    const qint64 n = in.size();
    const qint64 oldSize = old.isOpen() ? old.size() : 0;
    bool ok = n >= 0 && oldSize >= 0 && copyRange(in.m_handle, 0, out, 0, n);
    if (ok && oldSize > n)
        ok = copyRange(old.m_handle, n, out, n, oldSize - n);
    ok = ok && flushData(out);
    closeHandle(out);
    in.release();
    old.release();
    if (!ok || !renameOver(built, target)) {
        removeName(built);
        return false;
    }
    flushFolderOf(target);
    return true;
}
