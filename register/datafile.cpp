#include "register/datafile.h"

#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/registererror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

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

// A free name beside the journal for setting it aside.
QString asideName(const QString& journal)
{
    for (int n = 1; n < 1000; ++n) {
        const QString name = journal + QStringLiteral(".%1").arg(n);
        if (!HeldFile::nameTaken(name))
            return name;
    }
    return QString();
}

// The repairs write a regular file of their own: a link in its place is replaced, as the
// backup's is, never written through.
bool openReplacingLink(HeldFile& file, const QString& path)
{
    if (HeldFile::isLink(path) && !HeldFile::removeFile(path))
        return false;
    return file.openOrCreate(path, nullptr, false);
}

QString ignoredJournal(const QString& journal, const QString& data, const QString& why)
{
    return QStringLiteral("Журнал сохранения %1 пропущен: %2. Файл данных %3 оставлен как есть.")
        .arg(QDir::toNativeSeparators(journal), why, QDir::toNativeSeparators(data));
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
    release();
    m_notice.clear();
    try {
        if (!m_file.openExisting(m_dataPath))
            return 2;
        m_store.activate();
        if (!finishInterruptedSaves())
            throw RegisterError(QStringLiteral("Stream read error"));
        loadHeld();
        return 0;
    } catch (const std::exception&) {
        release();
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
        if (!finishInterruptedSaves())
            return false;
        loadHeld();
    } catch (const std::exception&) {
        return false;
    }
    MaxRecordId = qMax(MaxRecordId, handedOut);
    return true;
}

void DataFile::release()
{
    // What the last save wrote is known only while the file is held.
    m_image.clear();
    m_digests.clear();
    dropJournal();
    m_file.release();
}

void DataFile::loadHeld()
{
    m_digests.clear();
    m_image.clear();
    m_store.deactivate();
    m_store.activate();
    DataFormat::read(m_store, fetchFrom(m_file));
    MaxRecordId = 0;
    for (m_store.first(); !m_store.eof(); m_store.next())
        MaxRecordId = qMax(MaxRecordId, m_store.asInteger(Field::ID_RECORD));
}

QString DataFile::stateJournalPath() const
{
    const QByteArray identity = m_file.identity();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (identity.isEmpty() || folder.isEmpty())
        return QString();
    QCryptographicHash key(QCryptographicHash::Sha256);
    key.addData(QFileInfo(m_dataPath).canonicalFilePath().toUtf8());
    key.addData(identity);
    return folder + QStringLiteral("/journals/") + QString::fromLatin1(key.result().left(16).toHex())
        + QStringLiteral(".journal");
}

// Called with the data file held, so a journal of ours is not being written by another copy of
// the tool. The journal beside the file comes first, then the one in the state folder.
bool DataFile::finishInterruptedSaves()
{
    m_blockedJournals.clear();
    for (const QString& path : {journalPath(), stateJournalPath()}) {
        bool leftInPlace = false;
        if (path.isEmpty() || !HeldFile::nameTaken(path))
            continue;
        if (!finishJournal(path, &leftInPlace))
            return false;
        if (leftInPlace)
            m_blockedJournals << path;
    }
    return true;
}

bool DataFile::finishJournal(const QString& path, bool* leftInPlace)
{
    *leftInPlace = true;
    const QString data = QFileInfo(m_dataPath).absoluteFilePath();
    const auto note
        = [this](const QString& text) { m_notice += (m_notice.isEmpty() ? QString() : QStringLiteral("\n")) + text; };
    HeldFile journal;
    if (!HeldFile::isRegularName(path)) {
        note(ignoredJournal(path, data, QStringLiteral("это не обычный файл")));
        return true;
    }
    if (!journal.openForReading(path)) {
        note(ignoredJournal(path, data, QStringLiteral("его не удается прочитать")));
        return true;
    }
    if (!journal.ownedByUser()) {
        note(ignoredJournal(path, data, QStringLiteral("его владелец — другой пользователь")));
        return true;
    }
    if (journal.size() > SaveJournal::MaxSize) {
        note(ignoredJournal(path, data, QStringLiteral("он больше %1 МБ").arg(SaveJournal::MaxSize >> 20)));
        return true;
    }
    SaveJournal::Entry entry;
    if (SaveJournal::read(journal, &entry)) {
        if (!SaveJournal::belongsTo(entry, m_file)) {
            // Not this file's save: a register put back by hand, or a journal from elsewhere.
            journal.release();
            const QString aside = asideName(path);
            if (!aside.isEmpty() && HeldFile::renameAside(path, aside)) {
                *leftInPlace = false;
                note(QStringLiteral("Журнал сохранения %1 не относится к файлу данных %2 и отложен как %3. Файл "
                                    "данных оставлен как есть.")
                         .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(data),
                              QDir::toNativeSeparators(aside)));
            } else {
                note(QStringLiteral("Журнал сохранения %1 не относится к файлу данных %2 и оставлен на месте. Файл "
                                    "данных оставлен как есть.")
                         .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(data)));
            }
            return true;
        }
        if (!SaveJournal::replay(entry, m_file))
            return false;
    }
    // Replayed, or cut short, damaged or voided: a torn journal's save never began on the file.
    journal.release();
    HeldFile::removeFile(path);
    *leftInPlace = false;
    return true;
}

bool DataFile::openJournal()
{
    if (m_journal.isOpen())
        return true;
    for (const QString& path : {journalPath(), stateJournalPath()}) {
        if (path.isEmpty() || m_blockedJournals.contains(path))
            continue;
        if (path != journalPath() && !HeldFile::makeFolders(QFileInfo(path).absolutePath()))
            continue;
        if (m_journal.openSideFile(path)) {
            m_journalAt = path;
            return true;
        }
    }
    return false;
}

void DataFile::dropJournal()
{
    if (!m_journal.isOpen())
        return;
    m_journal.release();
    if (!m_journalPending)
        HeldFile::removeFile(m_journalAt);
    m_journalPending = false;
}

bool DataFile::finishFailedSave()
{
    SaveJournal::Entry entry;
    if (!SaveJournal::read(m_journal, &entry) || !SaveJournal::replay(entry, m_file))
        return false;
    SaveJournal::invalidate(m_journal);
    m_journalPending = false;
    return true;
}

bool DataFile::writeThroughJournal(const QByteArray& bytes, bool cut, qint64 from, qint64 to)
{
    if (m_journalPending && !finishFailedSave())
        return false;
    // Blocks past the file's end count as zeros, as the room made for them below will be.
    SaveJournal::Plan plan;
    if (!m_digests.plan(m_file, bytes, cut, &plan, from, to))
        return false;
    const bool shorten = cut && m_file.size() > bytes.size();
    if (plan.runs.empty()) {
        // Only the tail goes, if anything, and no reader looks past the register.
        if (!m_file.reserve(bytes.size()) || (shorten && !(m_file.truncate(bytes.size()) && m_file.flush())))
            return false;
        m_digests.saved(plan);
        return true;
    }
    if (!openJournal() || !SaveJournal::write(m_journal, plan, bytes.constData())) {
        dropJournal();
        return false;
    }
    // A journal made for this save reaches the disk with its name before it is relied on.
    if (m_journal.created()) {
        HeldFile::flushFolder(m_journalAt);
        m_journal.keepCreated();
    }
    // Room before the first byte changes: a full disk, a quota or a size limit refuses here,
    // and the journal of a save that never began goes.
    if (!m_file.reserve(bytes.size())) {
        SaveJournal::invalidate(m_journal);
        dropJournal();
        return false;
    }
    m_journalPending = true;
    // A failure from here on leaves the journal: the next save or load finishes this one.
    for (const auto& [first, count] : plan.runs) {
        const qint64 at = first * SaveJournal::Block;
        if (!m_file.writeAt(at, bytes.constData() + at, qMin(count * SaveJournal::Block, bytes.size() - at))) {
            m_digests.clear();
            return false;
        }
    }
    if ((shorten && !m_file.truncate(bytes.size())) || !m_file.flush()) {
        m_digests.clear();
        return false;
    }
    m_journalPending = false;
    SaveJournal::invalidate(m_journal);
    m_digests.saved(plan);
    return true;
}

void DataFile::SaveData()
{
    if (!m_file.isOpen() || !m_store.isActive())
        return;
    qint64 from = 0;
    qint64 to = 0;
    m_image.update(m_store, &from, &to);
    if (!writeThroughJournal(m_image.bytes(), false, from, to)) {
        m_image.clear();
        throw RegisterError(writeErrorText());
    }
}

bool DataFile::CopyDataFile(const QString& source, const QString& target)
{
    return HeldFile::copyOver(source, target);
}

bool DataFile::backupExists() const
{
    return QFileInfo::exists(m_backupPath);
}

Outcome DataFile::replaceContents(const std::function<bool()>& work, const QString& failure)
{
    RecordStore::Batch batch(m_store);
    release();
    bool ok = false;
    try {
        ok = work();
    } catch (const std::exception&) {
        ok = false;
    }
    if (ok) {
        // A data file made here reaches the disk with its name.
        if (m_file.created())
            HeldFile::flushFolder(m_dataPath);
        return {};
    }
    dropJournal();
    m_file.discard();
    return Outcome::failure(failure);
}

Outcome DataFile::restoreFromBackup()
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
            ok = ok && openReplacingLink(m_file, m_dataPath) && writeThroughJournal(bytes, false);
            if (ok)
                loadHeld();
        }
        return ok;
    };
    return replaceContents(restore, QStringLiteral("Не могу восстановить файл данных"));
}

Outcome DataFile::createAnew()
{
    const auto create = [this] {
        bool ok = false;
        if (openReplacingLink(m_file, m_dataPath)) {
            if (!m_store.isActive())
                m_store.activate();
            // The file is cut only behind the new bytes, so a crash never leaves it empty.
            ok = writeThroughJournal(DataFormat::write(m_store), true);
            if (ok)
                loadHeld();
        }
        return ok;
    };
    return replaceContents(create, QStringLiteral("Не могу создать файл данных"));
}

bool DataFile::shutDown()
{
    bool backedUp = true;
    if (m_file.isOpen()) {
        // A failed save throws past the copy: only a file saved whole may become the backup.
        SaveData();
        // Released first: the copy cannot open a held file.
        release();
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
