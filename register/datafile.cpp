#include "datafile.h"

#include "dataformat.h"
#include "recordstore.h"
#include "registererror.h"

#include <QFileInfo>

DataFile::DataFile(RecordStore& store, const QString& dataPath, const QString& backupPath)
    : m_store(store)
    , m_dataPath(dataPath)
    , m_backupPath(backupPath)
{
}

int DataFile::LoadData()
{
    m_store.deactivate();
    // Our own earlier hold would lock us out of the file we are about to open again.
    m_file.release();
    try {
        if (!m_file.openExisting(m_dataPath))
            return 2;
        m_store.activate();
        QByteArray bytes;
        if (!m_file.readAll(&bytes))
            throw RegisterError(QStringLiteral("Stream read error"));
        DataFormat::read(m_store, bytes);
        MaxRecordId = 0;
        for (m_store.first(); !m_store.eof(); m_store.next())
            MaxRecordId = qMax(MaxRecordId, m_store.asInteger(Field::ID_RECORD));
        return 0;
    } catch (const std::exception&) {
        m_file.release();
        return 2;
    }
}

void DataFile::SaveData()
{
    if (!m_file.isOpen() || !m_store.isActive())
        return;
    const QByteArray bytes = DataFormat::write(m_store);
    if (!m_file.writeAtStart(bytes))
        throw RegisterError(QStringLiteral("Stream write error"));
}

bool DataFile::CopyDataFile(const QString& source, const QString& target)
{
    return HeldFile::copyOver(source, target);
}

bool DataFile::backupExists() const
{
    return QFileInfo::exists(m_backupPath);
}

bool DataFile::restoreFromBackup(QString* message)
{
    m_file.release();
    if (CopyDataFile(m_backupPath, m_dataPath) && LoadData() == 0)
        return true;
    if (message)
        *message = QStringLiteral("Не могу восстановить файл данных");
    return false;
}

bool DataFile::createAnew(QString* message)
{
    m_file.release();
    bool ok = false;
    try {
        HeldFile fresh;
        if (fresh.createAnew(m_dataPath)) {
            m_store.activate();
            const bool written = fresh.writeAtStart(DataFormat::write(m_store));
            fresh.release();
            ok = written && LoadData() == 0;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok && message)
        *message = QStringLiteral("Не могу создать файл данных");
    return ok;
}

void DataFile::shutDown()
{
    if (m_file.isOpen()) {
        SaveData();
        // Released first: the copy cannot open a held file.
        m_file.release();
        CopyDataFile(m_dataPath, m_backupPath);
    }
    m_store.deactivate();
}

qint32 DataFile::lookUpMasterCode()
{
    if (m_store.locate(Field::ID_RECORD, 0))
        return m_store.asInteger(Field::ID_TRINK);
    return 0;
}
