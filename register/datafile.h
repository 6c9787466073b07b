#pragma once

#include "heldfile.h"

#include <QString>

#include <functional>

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

    // The side file that carries a save's new bytes while they are written over the data file.
    QString journalPath() const { return m_dataPath + QStringLiteral(".journal"); }

    // 0 loaded and held; 1 no file obtained; 2 an error while opening, reading or scanning.
    // A save that an earlier run left unfinished is finished first. The register's observers
    // hear the load, as the two repairs, as one reset.
    int LoadData();
    // Rewrites the held file from the register; nothing when no file is held or the register
    // is closed. Throws RegisterError("Stream write error") on a failed write, which leaves
    // the file loading as the last register saved (or, after an I/O error in the middle of
    // the write, as this one, finished at the next load).
    void SaveData();
    // Reads the held file again, as the next start would find it, dropping changes whose save
    // failed. MaxRecordId is not lowered: numbers handed out stay used. False when the file
    // cannot be read; the register may then hold part of it.
    bool reloadHeld();
    bool isHeld() const { return m_file.isOpen(); }
    void release() { m_file.release(); }

    static bool CopyDataFile(const QString& source, const QString& target);

    // "Восстановить из копии" and "Создать заново": true on success, otherwise false with the
    // message to show ("Не могу восстановить файл данных" / "Не могу создать файл данных").
    bool restoreFromBackup(QString* message);
    bool createAnew(QString* message);
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
    bool replaceContents(const std::function<bool()>& work, const QString& failure, QString* message);
    // Reads the held file into the emptied register and derives MaxRecordId; throws on bad content.
    void loadHeld();
    bool finishInterruptedSave();
    // The new bytes go to the journal and reach the disk before the first byte of the file is
    // overwritten; the journal goes once the file has them. `cut` ends the file after them.
    bool writeThroughJournal(const QByteArray& bytes, bool cut);

    RecordStore& m_store;
    QString m_dataPath;
    QString m_backupPath;
    HeldFile m_file;
};
