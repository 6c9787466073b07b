#pragma once

#include "device/controller.h"
#include "device/ops/journal.h"
#include "device/ops/memoryimage.h"
#include "device/ops/trinket.h"
#include "device/ops/zoneparams.h"
#include "device/seriallink.h"
#include "error/outcome.h"
#include "register/datafile.h"
#include "register/editing.h"
#include "register/recordstore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace RegisterCsv {
struct ImportPlan;
}

// The installer's work without its windows: the register and its data file, the serial link
// and the controller, and the command sequences that join them. Exchanges on the line throw
// DeviceError; a failure a command reports as its own result comes back in its outcome, with
// what was read before it. The windows decide which box shows what.
class InstallerCore final : public QObject
{
    Q_OBJECT

public:
    explicit InstallerCore(const QString& dataPath = QStringLiteral("Trinket.dat"),
                           const QString& backupPath = QStringLiteral("Trinket.bkd"), QObject* parent = nullptr);
    ~InstallerCore() override;

    RecordStore& store() { return m_store; }
    const RecordStore& store() const { return m_store; }
    DataFile& dataFile() { return m_data; }
    const DataFile& dataFile() const { return m_data; }
    SerialLink& link() { return m_link; }
    const MemoryMap& memoryMap() const { return m_controller.memoryMap(); }

    // What a trinket wait needs from whoever shows it.
    class WaitView
    {
    public:
        virtual ~WaitView() = default;
        virtual void showWait(const QString& label) = 0;
        // Serves pending events; the cancel button runs in here.
        virtual void pump() = 0;
        virtual void hideWait() = 0;
    };

    // True from the start of a trinket wait to its end: the commands that must not start then
    // follow busyChanged.
    bool busy() const { return m_busy; }

    // The master trinket's code as the register knows it, 0 when there is none.
    qint32 masterCode() const { return m_masterCode; }
    // Finds the master in the register (0 on a closed one).
    void lookUpMaster();
    bool cancelRequested() const { return m_cancelRequested; }
    // Two-trinket mode, read when the first trinket of an enrolment is in.
    void setTwoTrinkets(bool on) { m_twoTrinkets = on; }
    // Reading the written cells back after a parameter write.
    void setCheckParamWrite(bool on) { m_checkParamWrite = on; }

    // --- The serial port. -------------------------------------------------------------------
    Outcome openPort(const QString& name);
    void closePort();
    // Stale input read and dropped until the line falls silent.
    void drain();
    // Asks the controller for its version and selects the memory map; modelDetected follows.
    Model defineModel();

    // --- Trinkets. --------------------------------------------------------------------------
    struct Enrolment
    {
        enum Kind // the register's four answers first, as Editing::Enrolment numbers them
        {
            Recorded,
            DuplicateCode, // "Брелок с таким кодом уже есть в БД"; the record holding it is current
            NotButtonOne, // "Нажата не кнопка '1' брелка"
            RecordGone, // only if the enrolled record went during the wait: nothing recorded
            Cancelled,
            Failed, // the controller's exchange failed after the drain: message
        } kind
            = Cancelled;
        QString message;
    };
    // Enrols the held trinket into slot 0, 1 or 2 and gives back the code read from the slot,
    // or 0 when the wait was cancelled. Throws DeviceError.
    quint32 setupTrinket(int slot, WaitView& view);
    // Ends a pending wait ("Отмена").
    void cancelWait();
    // Drain (thrown), then detection, enrolment, the register, the save and the checksum.
    Enrolment enrolMaster(WaitView& view);
    // The record whose trinkets "Установить брелки" enrols: none at the end of the register
    // or on the master record.
    struct EnrolTarget
    {
        qint32 recordId = 0;
        bool hasTrinket = false;
    };
    std::optional<EnrolTarget> enrolTarget() const;
    // As enrolMaster, for the trinkets of the record numbered recordId: slot 0 gets the master
    // code, slots 1 to 3 are cleared first. The record is fixed for the whole command.
    Enrolment enrolTrinkets(qint32 recordId, WaitView& view);
    // Throws DeviceError.
    DeviceOps::TestOutcome testTrinket(WaitView& view);

    // --- Controller commands. ---------------------------------------------------------------
    struct ParamWrite
    {
        int invalidZone = 0; // the first zone naming no mode; nothing written then
        QList<DeviceOps::CellDifference> differences; // the read-back's, when asked for
    };
    // Drain, detection, the write and the checksum, then the read-back when it is on.
    // Throws DeviceError.
    ParamWrite writeZoneParams(const DeviceOps::ZoneParams& params);

    struct JournalReading
    {
        bool started = false; // the model was detected and the reading began
        QStringList lines;
        QList<DeviceOps::JournalEntry> entries;
        QString failure; // the exchange that stopped the reading; what came before it stays
    };
    // Drain (thrown), detection and the entries one by one.
    JournalReading readJournal();
    const JournalReading& journal() const { return m_journal; }

    struct VersionReading
    {
        bool complete = false; // false: the reply was short or unacknowledged
        QString text; // "QM407 версии 1.2", with the run time where the firmware keeps it
    };
    // Throws DeviceError.
    VersionReading readVersion();
    // Detection, then the counter zeroed and the checksum. Throws DeviceError.
    void clearCounter();

    struct MemoryDump
    {
        QStringList lines; // the complete lines read
        QByteArray cells; // all 256 cells, or empty after a failure
        QDateTime time;
        QString failure;
    };
    // Drain (thrown) and cells 0 to 255.
    MemoryDump dumpMemory();
    const MemoryDump& lastDump() const { return m_dump; }
    // The controller's memory against a sample image: the dump shown, or a new reading.
    // The meanings come from the map detected now. Throws DeviceError.
    QList<DeviceOps::CellDifference> compareWithImage(const QByteArray& sample, bool withLastDump);

    // --- The register. ----------------------------------------------------------------------
    // LoadData: 0 loaded, else the recovery window follows; dataFile().loadNotice() says the rest.
    int loadData();
    void saveData(); // throws RegisterError
    void addRecord(const QByteArray& consoleNumber, const QByteArray& address);
    struct ImportResult
    {
        QString saveFailure; // the writer's message; the register went back to the file
        bool lost = false; // the imported rows are not in the register any more
    };
    ImportResult importRecords(const RegisterCsv::ImportPlan& plan);
    // The current record's console number, "" when there is none.
    QString currentConsoleNumber() const;

signals:
    void busyChanged(bool busy);
    void modelDetected(Model model);
    void journalChanged();
    void memoryChanged();

private:
    class CoreWait;
    Enrolment enrol(const std::function<std::optional<Editing::Enrolment>()>& steps);
    void setBusy(bool busy);

    RecordStore m_store;
    DataFile m_data;
    SerialLink m_link;
    Controller m_controller {m_link};
    qint32 m_masterCode = 0;
    bool m_cancelRequested = false;
    bool m_busy = false;
    bool m_twoTrinkets = false;
    bool m_checkParamWrite = false;
    JournalReading m_journal;
    MemoryDump m_dump;
};
