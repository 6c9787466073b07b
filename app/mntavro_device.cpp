// Handlers of the device operations: enrolment and test of trinkets, zone parameters,
// journal, version, counter reset and memory dump.
#include "mntavro.h"

#include "deviceerror.h"
#include "devicetexts.h"
#include "editing.h"
#include "journal.h"
#include "messagebox.h"
#include "opstexts.h"
#include "quitrequest.h"
#include "service.h"
#include "servicemenu.h"
#include "trinket.h"
#include "waitcursor.h"
#include "zoneparams.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <optional>

// A trinket wait as the main window runs it: the wait window on top, the commands that must
// not start off, and the window system served between two reads.
class TFmTavro::WindowWaitHost final : public DeviceOps::WaitHost
{
public:
    explicit WindowWaitHost(TFmTavro& window)
        : m_window(window)
    {
    }

    void beginWait(const QString& label) override
    {
        m_shown = m_window.isVisible();
        m_window.CancelRequested = false;
        m_window.EnableControls(false);
        // "Опции" stays usable during a wait, but a detection now would take the controller's
        // answer to the wait for its own and lose the enrolment.
        m_window.SFOptions->BtDefModel->setEnabled(false);
        m_window.ServiceMenu->setDeviceCommandsEnabled(false);
        m_window.SFSetupTrink->LbSetupTrink->setText(label);
        m_window.SFSetupTrink->Show();
    }
    void pump() override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Nobody is left to press "Отмена" once the tool is closing: end the wait for them.
        const bool closing = QuitRequest::requested() || (m_shown && !m_window.isVisible());
        if (closing && !m_window.CancelRequested)
            m_window.BtTrinkCancelClick();
    }
    bool cancelRequested() const override { return m_window.CancelRequested; }
    void endWait() override
    {
        m_window.SFSetupTrink->Hide();
        m_window.EnableControls(true);
        m_window.SFOptions->BtDefModel->setEnabled(true);
        m_window.ServiceMenu->setDeviceCommandsEnabled(true);
    }

private:
    TFmTavro& m_window;
    bool m_shown = false;
};

namespace {

// Shows why the register refused an enrolled code; true when the codes were recorded.
bool recorded(Editing::Enrolment result)
{
    switch (result) {
    case Editing::Enrolment::Recorded:
        return true;
    case Editing::Enrolment::DuplicateCode:
        ShowError(OpsTexts::duplicateCode());
        break;
    case Editing::Enrolment::NotButtonOne:
        ShowError(OpsTexts::notButtonOne());
        break;
    case Editing::Enrolment::RecordGone:
        break;
    }
    return false;
}

} // namespace

int TFmTavro::SetupTrinket(int slot)
{
    WindowWaitHost host(*this);
    return int(DeviceOps::SetupTrinket(Device, slot, host));
}

void TFmTavro::BtTrinkCancelClick()
{
    Device.cancelWait();
    CancelRequested = true;
}

void TFmTavro::NSetMasterClick()
{
    if (MasterCode != 0 && !AskConfirmation(OpsTexts::masterExistsQuestion()))
        return;
    // A failed drain is left to the uncaught-error display; the rest reports in an error box.
    Device.drain();
    try {
        DefineModel();
        const qint32 code = SetupTrinket(0);
        if (code == 0 || !recorded(Editing::recordMaster(MTTrinkets, code)))
            return;
        // Follows the register at once, so a failed save cannot leave the two disagreeing.
        MasterCode = code;
        SaveData();
        Device.SetCrc();
    } catch (const DeviceError& e) {
        ShowError(e.message());
    }
}

void TFmTavro::BtSetTrinkClick()
{
    if (MTTrinkets.eof())
        return;
    // Kept here as well: the record editor, still reachable by the grid's double-click during
    // the waits, rewrites EditedRecordId, and the trinkets must not move to its record.
    const qint32 recordId = MTTrinkets.asInteger(Field::ID_RECORD);
    EditedRecordId = recordId;
    if (recordId == 0)
        return;
    if (MTTrinkets.asInteger(Field::ID_TRINK) != 0 && !AskConfirmation(OpsTexts::trinketExistsQuestion()))
        return;
    Device.drain();
    try {
        DefineModel();
        Device.WriteTriple(0, MasterCode);
        Device.WriteTriple(1, 0xFFFFFF);
        Device.WriteTriple(2, 0xFFFFFF);
        Device.WriteTriple(3, 0xFFFFFF);

        const qint32 first = SetupTrinket(1);
        if (first == 0)
            return;
        std::optional<qint32> second; // two-trinket mode only
        if (SFOptions->RGNumTrink->ItemIndex() == 1) {
            // The same trinket held again for the second slot just starts that wait anew.
            do {
                second = SetupTrinket(2);
            } while (*second == first);
            if (*second == 0)
                return;
        }
        if (!recorded(Editing::recordTrinkets(MTTrinkets, recordId, first, second)))
            return;
        SaveData();
        Device.SetCrc();
    } catch (const DeviceError& e) {
        ShowError(e.message());
    }
}

void TFmTavro::BtTestTrinketClick()
{
    WindowWaitHost host(*this);
    const DeviceOps::TestOutcome outcome = DeviceOps::TestTrinket(Device, host);
    switch (outcome.kind) {
    case DeviceOps::TestOutcome::Cancelled:
        break;
    case DeviceOps::TestOutcome::BadReply:
        ShowError(DeviceTexts::testError());
        break;
    case DeviceOps::TestOutcome::Pressed:
        ShowResult(DeviceOps::pressedButtonText(outcome.buttonByte), OpsTexts::trinketCaption());
        break;
    }
}

void TFmTavro::NSetParamClick()
{
    const bool sevenZones = SFOptions->RGModel->ItemIndex() == int(Model::QM407M);
    SFParams->prepareFor(sevenZones ? Model::QM407M : Model::QM407);
    SFParams->ShowModal();
}

void TFmTavro::BtWrParamsClick()
{
    std::optional<TWaitCursor> busy(std::in_place);
    Device.drain();
    const int zones = DeviceOps::zonesOf(DefineModel() == Model::QM407M);
    const DeviceOps::ZoneParams params = SFParams->params();
    if (const int zone = DeviceOps::invalidZone(params, zones)) {
        busy.reset();
        // The window stays open for the installer to pick a mode.
        SFParams->SetModalResult(TAuxWindow::mrNone);
        ShowError(OpsTexts::invalidZoneMode(zone));
        return;
    }
    DeviceOps::writeZoneParams(Device, params, zones);
    busy.reset();
    ServiceMenu->checkParamWrite(params, zones);
}

void TFmTavro::NJournalClick()
{
    std::optional<TWaitCursor> busy(std::in_place);
    Device.drain();
    QStringList lines;
    QList<DeviceOps::JournalEntry> entries;
    bool reading = false;
    try {
        DefineModel();
        SFJournal->MmJournal->clear();
        reading = true;
        DeviceOps::readJournal(Device, lines, &entries);
    } catch (const DeviceError& e) {
        // The entries read before the failure stay in the window until the next reading.
        if (reading) {
            SFJournal->MmJournal->setPlainText(lines.join(QLatin1Char('\n')));
            ServiceMenu->journalRead(entries, lines);
        }
        busy.reset();
        ShowError(e.message());
        return;
    }
    SFJournal->MmJournal->setPlainText(lines.join(QLatin1Char('\n')));
    ServiceMenu->journalRead(entries, lines);
    busy.reset();
    SFJournal->ShowModal();
}

void TFmTavro::NVersionClick()
{
    std::optional<TWaitCursor> busy(std::in_place);
    Device.drain();
    const Controller::VersionReply reply = Device.readVersion();
    if (!reply.complete) {
        busy.reset();
        ShowError(DeviceTexts::versionReadError());
        return;
    }
    DefineModel();
    QString text = DeviceOps::versionText(reply.major, reply.minor);
    if (DeviceOps::reportsRunTime(reply.major, reply.minor))
        text += DeviceOps::runTimeText(Device.readCounter());
    busy.reset();
    ShowResult(text, OpsTexts::versionCaption());
}

void TFmTavro::NClrCntClick()
{
    TWaitCursor busy;
    DefineModel();
    DeviceOps::clearCounter(Device);
}

void TFmTavro::EEPROMClick()
{
    {
        TWaitCursor busy;
        Device.drain();
        QStringList lines;
        QByteArray cells;
        SFROM->MmROM->clear();
        try {
            DeviceOps::dumpMemory(Device, lines, &cells);
        } catch (const DeviceError&) {
            // The complete lines stay until the next dump; the error goes on to its display.
            SFROM->MmROM->setPlainText(lines.join(QLatin1Char('\n')));
            ServiceMenu->memoryRead(QByteArray(), lines);
            throw;
        }
        SFROM->MmROM->setPlainText(lines.join(QLatin1Char('\n')));
        ServiceMenu->memoryRead(cells, lines);
    }
    SFROM->ShowModal();
}

void TFmTavro::NTrinketClick()
{
    SFTrinketDefine->ShowModal();
}
