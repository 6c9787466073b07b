#include "core/installercore.h"

#include "device/deviceerror.h"
#include "device/ops/opstexts.h"
#include "device/ops/service.h"
#include "error/messageerror.h"
#include "register/registercsv.h"
#include "register/text1251.h"

// The trinket wait as the device operations see it: the core's busy state and cancel request
// around the view that shows it.
class InstallerCore::CoreWait final : public DeviceOps::WaitHost
{
public:
    CoreWait(InstallerCore& core, WaitView& view)
        : m_core(core)
        , m_view(view)
    {
    }
    void beginWait(const QString& label) override
    {
        m_core.m_cancelRequested = false;
        m_core.setBusy(true);
        m_view.showWait(label);
    }
    void pump() override { m_view.pump(); }
    bool cancelRequested() const override { return m_core.m_cancelRequested; }
    void endWait() override
    {
        m_view.hideWait();
        m_core.setBusy(false);
    }

private:
    InstallerCore& m_core;
    WaitView& m_view;
};

InstallerCore::InstallerCore(const QString& dataPath, const QString& backupPath, QObject* parent)
    : QObject(parent)
    , m_data(m_store, dataPath, backupPath)
{
    setObjectName(QStringLiteral("InstallerCore"));
}

InstallerCore::~InstallerCore() = default;

void InstallerCore::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged(busy);
}

void InstallerCore::lookUpMaster()
{
    // A register left closed by the recovery window has no master to find.
    m_masterCode = m_store.isActive() ? m_data.lookUpMasterCode() : 0;
}

Outcome InstallerCore::openPort(const QString& name)
{
    QString error;
    // Blanks typed around the name are no part of it, as the settings store keeps it.
    if (!m_link.Open(name.trimmed(), &error))
        return Outcome::failure(error);
    return {};
}

void InstallerCore::closePort()
{
    m_link.Close();
}

void InstallerCore::drain()
{
    m_controller.drain();
}

Model InstallerCore::defineModel()
{
    const Model model = m_controller.DefineModel();
    emit modelDetected(model);
    return model;
}

quint32 InstallerCore::setupTrinket(int slot, WaitView& view)
{
    CoreWait wait(*this, view);
    return DeviceOps::SetupTrinket(m_controller, slot, wait);
}

void InstallerCore::cancelWait()
{
    m_controller.cancelWait();
    m_cancelRequested = true;
}

// The register's answers keep their values among the outcomes.
static_assert(int(InstallerCore::Enrolment::Recorded) == int(Editing::Enrolment::Recorded)
              && int(InstallerCore::Enrolment::DuplicateCode) == int(Editing::Enrolment::DuplicateCode)
              && int(InstallerCore::Enrolment::NotButtonOne) == int(Editing::Enrolment::NotButtonOne)
              && int(InstallerCore::Enrolment::RecordGone) == int(Editing::Enrolment::RecordGone));

InstallerCore::Enrolment InstallerCore::enrol(const std::function<std::optional<Editing::Enrolment>()>& steps)
{
    // A failed drain is not the command's own failure: it goes on to the caller.
    m_controller.drain();
    Enrolment outcome;
    try {
        defineModel();
        const std::optional<Editing::Enrolment> result = steps();
        if (!result)
            return outcome; // cancelled
        outcome.kind = Enrolment::Kind(*result);
        if (outcome.kind == Enrolment::Recorded) {
            // A failed save is the writer's to report: it is no DeviceError and passes.
            saveData();
            m_controller.SetCrc();
        }
    } catch (const DeviceError& e) {
        outcome.kind = Enrolment::Failed;
        outcome.message = e.message();
    }
    return outcome;
}

InstallerCore::Enrolment InstallerCore::enrolMaster(WaitView& view)
{
    return enrol([&]() -> std::optional<Editing::Enrolment> {
        const qint32 code = qint32(setupTrinket(0, view));
        if (code == 0)
            return std::nullopt;
        const Editing::Enrolment result = Editing::recordMaster(m_store, code);
        // Follows the register at once, so a failed save cannot leave the two disagreeing.
        if (result == Editing::Enrolment::Recorded)
            m_masterCode = code;
        return result;
    });
}

std::optional<InstallerCore::EnrolTarget> InstallerCore::enrolTarget() const
{
    if (m_store.eof())
        return std::nullopt;
    EnrolTarget target;
    target.recordId = m_store.asInteger(Field::ID_RECORD);
    if (target.recordId == 0)
        return std::nullopt;
    target.hasTrinket = m_store.asInteger(Field::ID_TRINK) != 0;
    return target;
}

InstallerCore::Enrolment InstallerCore::enrolTrinkets(qint32 recordId, WaitView& view)
{
    return enrol([&]() -> std::optional<Editing::Enrolment> {
        m_controller.WriteTriple(0, m_masterCode);
        m_controller.WriteTriple(1, 0xFFFFFF);
        m_controller.WriteTriple(2, 0xFFFFFF);
        m_controller.WriteTriple(3, 0xFFFFFF);
        const qint32 first = qint32(setupTrinket(1, view));
        if (first == 0)
            return std::nullopt;
        std::optional<qint32> second; // two-trinket mode only
        if (m_twoTrinkets) {
            // The same trinket held again for the second slot just starts that wait anew.
            do {
                second = qint32(setupTrinket(2, view));
            } while (*second == first);
            if (*second == 0)
                return std::nullopt;
        }
        return Editing::recordTrinkets(m_store, recordId, first, second);
    });
}

DeviceOps::TestOutcome InstallerCore::testTrinket(WaitView& view)
{
    CoreWait wait(*this, view);
    return DeviceOps::TestTrinket(m_controller, wait);
}

InstallerCore::ParamWrite InstallerCore::writeZoneParams(const DeviceOps::ZoneParams& params)
{
    m_controller.drain();
    const int zones = DeviceOps::zonesOf(defineModel() == Model::QM407M);
    ParamWrite outcome;
    outcome.invalidZone = DeviceOps::invalidZone(params, zones);
    if (outcome.invalidZone != 0)
        return outcome;
    DeviceOps::writeZoneParams(m_controller, params, zones);
    if (m_checkParamWrite)
        outcome.differences = DeviceOps::readBack(m_controller, DeviceOps::zoneParamCells(memoryMap(), params, zones));
    return outcome;
}

InstallerCore::JournalReading InstallerCore::readJournal()
{
    m_controller.drain();
    JournalReading reading;
    try {
        defineModel();
        reading.started = true;
        DeviceOps::readJournal(m_controller, reading.lines, &reading.entries);
    } catch (const DeviceError& e) {
        reading.failure = e.message();
    }
    // The entries read before a failure are what the window shows until the next reading.
    if (reading.started) {
        m_journal = reading;
        emit journalChanged();
    }
    return reading;
}

InstallerCore::VersionReading InstallerCore::readVersion()
{
    m_controller.drain();
    const Controller::VersionReply reply = m_controller.readVersion();
    VersionReading reading;
    if (!reply.complete)
        return reading;
    reading.complete = true;
    defineModel();
    reading.text = DeviceOps::versionText(reply.major, reply.minor);
    if (DeviceOps::reportsRunTime(reply.major, reply.minor))
        reading.text += DeviceOps::runTimeText(m_controller.readCounter());
    return reading;
}

void InstallerCore::clearCounter()
{
    defineModel();
    DeviceOps::clearCounter(m_controller);
}

InstallerCore::MemoryDump InstallerCore::dumpMemory()
{
    m_controller.drain();
    MemoryDump dump;
    try {
        DeviceOps::dumpMemory(m_controller, dump.lines, &dump.cells);
    } catch (const DeviceError& e) {
        dump.failure = e.message();
        dump.cells.clear(); // only a complete image is worth keeping
    }
    dump.time = QDateTime::currentDateTime();
    m_dump = dump;
    emit memoryChanged();
    return dump;
}

QList<DeviceOps::CellDifference> InstallerCore::compareWithImage(const QByteArray& sample, bool withLastDump)
{
    const bool fromDump = withLastDump && m_dump.cells.size() == DeviceOps::ImageSize;
    QByteArray present = m_dump.cells;
    m_controller.drain();
    // The map gives the cells their meaning.
    defineModel();
    if (!fromDump) {
        QStringList lines;
        DeviceOps::dumpMemory(m_controller, lines, &present);
    }
    return DeviceOps::compareImages(sample, present);
}

int InstallerCore::loadData()
{
    return m_data.LoadData();
}

void InstallerCore::saveData()
{
    m_data.SaveData();
}

void InstallerCore::addRecord(const QByteArray& consoleNumber, const QByteArray& address)
{
    Editing::addRecord(m_store, m_data.MaxRecordId, consoleNumber, address);
    saveData();
}

InstallerCore::ImportResult InstallerCore::importRecords(const RegisterCsv::ImportPlan& plan)
{
    const std::vector<Record> before = m_store.rows();
    RegisterCsv::apply(m_store, m_data.MaxRecordId, plan);
    const Record last = m_store.at(m_store.count() - 1);
    ImportResult result;
    try {
        saveData();
        return result;
    } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const MessageError*>(&e);
        result.saveFailure = error ? error->message() : QString::fromUtf8(e.what());
    }
    // The register goes back to what the file holds: rows shown but not saved would be lost at
    // the end unnoticed, or saved by the next change.
    if (!m_data.reloadHeld()) {
        RecordStore::Batch batch(m_store);
        m_store.deactivate();
        m_store.activate();
        for (const Record& r : before)
            m_store.append(r);
    }
    const qint32 lastId = last.asInteger(Field::ID_RECORD);
    result.lost
        = !m_store.locate(Field::ID_RECORD, lastId) || m_store.asText(Field::PULT_NUM) != last.asText(Field::PULT_NUM);
    m_store.first();
    return result;
}

QString InstallerCore::currentConsoleNumber() const
{
    if (!m_store.isActive() || m_store.currentRow() < 0 || m_store.eof())
        return QString();
    return Text1251::toUnicode(m_store.asText(Field::PULT_NUM));
}
