#pragma once

#include "error/outcome.h"
#include "register/heldfile.h"
#include "register/saveimage.h"
#include "register/savejournal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

class RecordStore;

// The data file's lifecycle: load and hold "Trinket.dat", rewrite it after every change, copy
// it to "Trinket.bkd" at the end, and the two repairs of the recovery window.
class DataFile final
{
public:
    explicit DataFile(RecordStore& store, const QString& dataPath = QStringLiteral("Trinket.dat"),
                      const QString& backupPath = QStringLiteral("Trinket.bkd"));
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    QString dataPath() const { return m_dataPath; }
    QString backupPath() const { return m_backupPath; }

    // The side file that carries a save's new bytes while they are written over the data file,
    // beside it; where the folder takes no new files, the one in the user's state folder, named
    // after the held file's identity (empty while no file is held).
    QString journalPath() const { return m_dataPath + QStringLiteral(".journal"); }
    QString stateJournalPath() const;

    // 0 loaded and held; 2 when the file could not be opened, read or scanned (a missing file
    // included), which leaves the register closed for the recovery window. No other value.
    // A save that an earlier run left unfinished is finished first. The register's observers
    // hear the load, as the two repairs, as one reset.
    int LoadData();
    // What the last load has to say about journals it found and did not replay (empty when
    // nothing): the caller shows it.
    QString loadNotice() const { return m_notice; }
    // Rewrites the held file from the register; nothing when no file is held or the register
    // is closed. Throws RegisterError("Stream write error") on a failed write, which leaves
    // the file loading as the last register saved (or, after an I/O error in the middle of
    // the write, as this one, finished at the next save or load). Only the records changed
    // since the last save are encoded and only the blocks that change are written; the image
    // and the journal stay allocated between saves.
    void SaveData();
    // Reads the held file again, as the next start would find it, dropping changes whose save
    // failed. MaxRecordId is not lowered: numbers handed out stay used. False when the file
    // cannot be read; the register may then hold part of it.
    bool reloadHeld();
    bool isHeld() const { return m_file.isOpen(); }
    // Lets the file go; the journal kept between saves goes with it.
    void release();

    static bool CopyDataFile(const QString& source, const QString& target);

    // "Восстановить из копии" and "Создать заново"; a failure's message is the one to show
    // ("Не могу восстановить файл данных" / "Не могу создать файл данных").
    Outcome restoreFromBackup();
    Outcome createAnew();
    bool backupExists() const;

    // FormDestroy's data-file steps: save, release, copy to the backup, close the register.
    // A failed save throws as SaveData does and skips the rest, keeping the old backup. False
    // when the copy to the backup failed; the data file is saved then.
    bool shutDown();

    qint32 MaxRecordId = 0;
    // The ID_TRINK of the record numbered 0, made current; 0 and no move when there is none.
    // Throws RegisterError on a closed register.
    qint32 lookUpMasterCode();

private:
    // Runs work that replaces the register's contents, heard as one reset, with the file released
    // first; false (work false or thrown) drops the file and gives failure as the message.
    Outcome replaceContents(const std::function<bool()>& work, const QString& failure);
    // Reads the held file into the emptied register and derives MaxRecordId; throws on bad content.
    void loadHeld();
    bool finishInterruptedSaves();
    bool finishJournal(const QString& path, bool* leftInPlace);
    // The new bytes of the blocks that change go to the journal and reach the disk before the
    // first byte of the file is overwritten; the journal is voided once the file has them.
    // `cut` ends the file after them. Only [from, to) may differ from what the last save wrote.
    bool writeThroughJournal(const QByteArray& bytes, bool cut, qint64 from = 0,
                             qint64 to = std::numeric_limits<qint64>::max());
    bool openJournal();
    // Finishes a save whose write over the file failed after its journal was on the disk, so
    // that the next journal may take its place.
    bool finishFailedSave();
    // Closes the journal and removes it, unless a failed save still needs it at the next load.
    void dropJournal();

    RecordStore& m_store;
    QString m_dataPath;
    QString m_backupPath;
    HeldFile m_file;
    HeldFile m_journal;
    QString m_journalAt;
    bool m_journalPending = false;
    // Names where a journal that is not ours was left: no save puts its journal there.
    QStringList m_blockedJournals;
    SaveJournal::BlockDigests m_digests;
    SaveImage m_image;
    QString m_notice;
};
