#include "datafile.h"

#include "dataformat.h"
#include "recordstore.h"
#include "registererror.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>

namespace {

// The journal: a tag, the length of the new bytes, their digest, then the bytes. One cut short
// or damaged by a crash does not match its digest and is dropped: the data file was not yet
// touched by that save.
// The tag's last byte says whether the file ends after the new bytes ('C') or keeps its tail.
constexpr char JournalTag[7] = {'T', 'R', 'K', 'S', 'A', 'V', 'E'};
constexpr int JournalHead = 8 + 8 + 16;

QByteArray digest(const char* data, qint64 n)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(QByteArrayView(data, qsizetype(n)));
    return hash.result();
}

QByteArray journalOf(const QByteArray& bytes, bool cut)
{
    QByteArray out;
    out.reserve(JournalHead + bytes.size());
    out.append(JournalTag, 7);
    out.append(cut ? 'C' : '1');
    char length[8];
    qToLittleEndian<quint64>(quint64(bytes.size()), length);
    out.append(length, 8);
    out.append(digest(bytes.constData(), bytes.size()));
    out.append(bytes);
    return out;
}

// The new bytes of a complete journal; false for anything else.
bool bytesOfJournal(const HeldFile& journal, QByteArray* bytes, bool* cut)
{
    const qint64 size = journal.size();
    char head[JournalHead];
    if (size < JournalHead || journal.readAt(0, head, JournalHead) != JournalHead
        || std::memcmp(head, JournalTag, 7) != 0 || (head[7] != '1' && head[7] != 'C'))
        return false;
    *cut = head[7] == 'C';
    const quint64 n = qFromLittleEndian<quint64>(head + 8);
    if (n != quint64(size - JournalHead))
        return false;
    bytes->resize(qsizetype(n));
    for (qint64 at = 0; at < qint64(n);) {
        const qint64 got = journal.readAt(JournalHead + at, bytes->data() + at, qint64(n) - at);
        if (got <= 0)
            return false;
        at += got;
    }
    return digest(bytes->constData(), bytes->size()) == QByteArray(head + 16, 16);
}

DataFormat::Fetch fetchFrom(const HeldFile& file)
{
    return [&file, at = qint64(0)](char* buffer, qint64 max) mutable {
        const qint64 got = file.readAt(at, buffer, max);
        if (got > 0)
            at += got;
        return got;
    };
}

QString writeErrorText()
{
    return QStringLiteral("Stream write error");
}

} // namespace

DataFile::DataFile(RecordStore& store, const QString& dataPath, const QString& backupPath)
    : m_store(store)
    , m_dataPath(dataPath)
    , m_backupPath(backupPath)
{
}

int DataFile::LoadData()
{
    RecordStore::Batch batch(m_store);
    m_store.deactivate();
    // Our own earlier hold would lock us out of the file we are about to open again.
    m_file.release();
    try {
        if (!m_file.openExisting(m_dataPath))
            return 2;
        m_store.activate();
        if (!finishInterruptedSave())
            throw RegisterError(QStringLiteral("Stream read error"));
        loadHeld();
        return 0;
    } catch (const std::exception&) {
        m_file.release();
        return 2;
    }
}

bool DataFile::reloadHeld()
{
    if (!m_file.isOpen())
        return false;
    RecordStore::Batch batch(m_store);
    const qint32 handedOut = MaxRecordId;
    try {
        if (!finishInterruptedSave())
            return false;
        loadHeld();
    } catch (const std::exception&) {
        return false;
    }
    MaxRecordId = qMax(MaxRecordId, handedOut);
    return true;
}

void DataFile::loadHeld()
{
    m_store.deactivate();
    m_store.activate();
    DataFormat::read(m_store, fetchFrom(m_file));
    MaxRecordId = 0;
    for (m_store.first(); !m_store.eof(); m_store.next())
        MaxRecordId = qMax(MaxRecordId, m_store.asInteger(Field::ID_RECORD));
}

// Called with the data file held, so the journal is ours: no other copy of the tool writes it.
bool DataFile::finishInterruptedSave()
{
    HeldFile journal;
    if (!journal.openExisting(journalPath()))
        return true;
    QByteArray bytes;
    bool cut = false;
    const bool complete = bytesOfJournal(journal, &bytes, &cut);
    journal.release();
    // An incomplete journal means its save never began on the data file. So does a file too
    // short for the new bytes that cannot be given the room: a save writes only after that.
    if (complete && (m_file.size() >= bytes.size() || m_file.reserve(bytes.size()))) {
        if (!m_file.writeAt(0, bytes.constData(), bytes.size()) || (cut && !m_file.truncate(bytes.size()))
            || !m_file.flush())
            return false;
    }
    HeldFile::removeFile(journalPath());
    return true;
}

bool DataFile::writeThroughJournal(const QByteArray& bytes, bool cut)
{
    const qint64 oldSize = m_file.size();
    if (oldSize < 0 || !HeldFile::writeNewFile(journalPath(), journalOf(bytes, cut)))
        return false;
    // Room before the first byte changes: a full disk, a quota or a size limit refuses here.
    if (!m_file.reserve(bytes.size())) {
        HeldFile::removeFile(journalPath());
        return false;
    }
    // A failure from here on leaves the journal: the next load finishes this save.
    if (!m_file.writeAt(0, bytes.constData(), bytes.size()) || (cut && !m_file.truncate(bytes.size()))
        || !m_file.flush())
        return false;
    HeldFile::removeFile(journalPath());
    return true;
}

void DataFile::SaveData()
{
    if (!m_file.isOpen() || !m_store.isActive())
        return;
    if (!writeThroughJournal(DataFormat::write(m_store), false))
        throw RegisterError(writeErrorText());
}

bool DataFile::CopyDataFile(const QString& source, const QString& target)
{
    return HeldFile::copyOver(source, target);
}

bool DataFile::backupExists() const
{
    return QFileInfo::exists(m_backupPath);
}

bool DataFile::replaceContents(const std::function<bool()>& work, const QString& failure, QString* message)
{
    RecordStore::Batch batch(m_store);
    m_file.release();
    bool ok = false;
    try {
        ok = work();
    } catch (const std::exception&) {
        ok = false;
    }
    if (ok)
        return true;
    m_file.discard();
    if (message)
        *message = failure;
    return false;
}

bool DataFile::restoreFromBackup(QString* message)
{
    const auto restore = [this] {
        bool ok = false;
        // The backup must load before anything is written over the data file.
        HeldFile backup;
        if (backup.openForReading(m_backupPath)) {
            m_store.deactivate();
            m_store.activate();
            DataFormat::read(m_store, fetchFrom(backup));
            // All its bytes, its tail past the register too, go over the data file's start through
            // the journal, so a crash leaves the old file or the whole copy; the data file's own
            // tail beyond stays, as a plain copy over it would leave it.
            const qint64 size = backup.size();
            QByteArray bytes(qsizetype(qMax<qint64>(size, 0)), Qt::Uninitialized);
            ok = size >= 0;
            for (qint64 at = 0; ok && at < size;) {
                const qint64 got = backup.readAt(at, bytes.data() + at, size - at);
                ok = got > 0;
                at += got;
            }
            ok = ok && m_file.openOrCreate(m_dataPath) && writeThroughJournal(bytes, false);
            if (ok)
                loadHeld();
        }
        return ok;
    };
    return replaceContents(restore, QStringLiteral("Не могу восстановить файл данных"), message);
}

bool DataFile::createAnew(QString* message)
{
    const auto create = [this] {
        bool ok = false;
        if (m_file.openOrCreate(m_dataPath)) {
            if (!m_store.isActive())
                m_store.activate();
            // The file is cut only behind the new bytes, so a crash never leaves it empty.
            ok = writeThroughJournal(DataFormat::write(m_store), true);
            if (ok)
                loadHeld();
        }
        return ok;
    };
    return replaceContents(create, QStringLiteral("Не могу создать файл данных"), message);
}

bool DataFile::shutDown()
{
    bool backedUp = true;
    if (m_file.isOpen()) {
        // A failed save throws past the copy: only a file saved whole may become the backup.
        SaveData();
        // Released first: the copy cannot open a held file.
        m_file.release();
        backedUp = CopyDataFile(m_dataPath, m_backupPath);
    }
    m_store.deactivate();
    return backedUp;
}

qint32 DataFile::lookUpMasterCode()
{
    if (m_store.locate(Field::ID_RECORD, 0))
        return m_store.asInteger(Field::ID_TRINK);
    return 0;
}
