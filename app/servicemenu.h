#pragma once

#include "auxwindow.h"
#include "journal.h"
#include "zoneparams.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <memory>

class Controller;
class DataFile;
class QAction;
class QMenu;
class QPlainTextEdit;
class RecordStore;
class SerialLink;
class SerialTrace;
class TFmTavro;

// The differences between the controller's memory and an image.
class TSFCompare final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFCompare(QWidget* mainWindow);
    QPlainTextEdit* MmCompare;
};

// The "Сервис" menu: keeping the journal and memory images on disk, comparing the memory with an
// image, the serial trace and the check after a parameter write. Its two options live in a group
// of their own in the settings store.
class TServiceMenu final : public QObject
{
    Q_OBJECT

public:
    TServiceMenu(TFmTavro& window, SerialLink& port, Controller& device, const RecordStore& store,
                 const DataFile& data);
    ~TServiceMenu() override;

    QAction* NSaveJournalText;
    QAction* NSaveJournalCsv;
    QAction* NPrintJournal;
    QAction* NSaveImage;
    QAction* NCompareImage;
    QAction* NSerialTrace;
    QAction* NCheckParamWrite;
    TSFCompare* SFCompare;

    static QString settingsGroup() { return QStringLiteral("Service"); }

    // What the journal window shows now, entry by entry.
    void journalRead(const QList<DeviceOps::JournalEntry>& entries, const QStringList& lines);
    // A complete dump (256 cells and its lines), or none after a failed one.
    void memoryRead(const QByteArray& cells, const QStringList& lines);
    // Off while a trinket wait runs: the commands that talk to the controller.
    void setDeviceCommandsEnabled(bool enable);
    // Reads the written cells back when the option is on and reports any difference.
    void checkParamWrite(const DeviceOps::ZoneParams& params, int zones);
    // The context menu of a memo with the commands that apply to it.
    QMenu* contextMenu(QPlainTextEdit* memo);

    void NSaveJournalTextClick();
    void NSaveJournalCsvClick();
    void NPrintJournalClick();
    void NSaveImageClick();
    void NCompareImageClick();

private:
    QString consoleNumber() const;
    QString installationFolder() const;
    void saveJournal(const QString& suffix, const QString& filter, const QByteArray& bytes);
    void compareWith(const QByteArray& present);
    void applyTrace();
    void storeOption(const QString& name, bool on);

    TFmTavro& m_window;
    SerialLink& m_port;
    Controller& m_device;
    const RecordStore& m_store;
    const DataFile& m_data;
    QList<DeviceOps::JournalEntry> m_entries;
    QStringList m_journalLines;
    QByteArray m_cells;
    QStringList m_dumpLines;
    QDateTime m_dumpTime;
    bool m_deviceCommands = true;
    std::unique_ptr<SerialTrace> m_trace;
};
