// Handlers of the device operations: enrolment and test of trinkets, zone parameters,
// journal, version, counter reset and memory dump.
#include "mntavro.h"

#include "deviceerror.h"
#include "devicetexts.h"
#include "journal.h"
#include "messagebox.h"
#include "opstexts.h"
#include "quitrequest.h"
#include "service.h"
#include "servicemenu.h"
#include "text1251.h"
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

QByteArray registerText(const QString& text)
{
    return Text1251::fromUnicode(text);
}

} // namespace

int TFmTavro::SetupTrinket(int slot)
{
    WindowWaitHost host(*this);
    return int(DeviceOps::SetupTrinket(Device, slot, host));
}

void TFmTavro::BtTrinkCancelClick()
{
    DeviceOps::sendCancelWait(Device);
    CancelRequested = true;
}

void TFmTavro::NSetMasterClick()
{
    if (MasterCode != 0 && !AskConfirmation(OpsTexts::masterExistsQuestion()))
        return;
    // A failed drain is left to the uncaught-error display; the rest reports in an error box.
    Port.FlushPort();
    try {
        DefineModel();
        const qint32 code = SetupTrinket(0);
        if (code == 0)
            return;
        if (MTTrinkets.locate(Field::ID_TRINK, code) && MTTrinkets.asInteger(Field::ID_RECORD) != 0) {
            ShowError(OpsTexts::duplicateCode());
            return;
        }
        if (!DeviceOps::isButtonOne(quint32(code))) {
            ShowError(OpsTexts::notButtonOne());
            return;
        }
        if (MTTrinkets.locate(Field::ID_RECORD, 0))
            MTTrinkets.edit();
        else
            MTTrinkets.insert();
        MTTrinkets.setInteger(Field::ID_RECORD, 0);
        MTTrinkets.setText(Field::PULT_NUM, registerText(OpsTexts::masterConsoleNumber()));
        MTTrinkets.setInteger(Field::ID_TRINK, code);
        MTTrinkets.setText(Field::CODE, registerText(DeviceOps::TrinketCode(quint32(code))));
        MTTrinkets.post();
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
    Port.FlushPort();
    try {
        DefineModel();
        Device.WriteTriple(0, MasterCode);
        Device.WriteTriple(1, 0xFFFFFF);
        Device.WriteTriple(2, 0xFFFFFF);
        Device.WriteTriple(3, 0xFFFFFF);

        const qint32 first = SetupTrinket(1);
        if (first == 0)
            return;
        const bool twoTrinkets = SFOptions->RGNumTrink->ItemIndex() == 1;
        qint32 second = 0;
        if (twoTrinkets) {
            // The same trinket held again for the second slot just starts that wait anew.
            do {
                second = SetupTrinket(2);
            } while (second == first);
            if (second == 0)
                return;
        }

        // Only the first-trinket field is searched; the found record stays current.
        bool found = MTTrinkets.locate(Field::ID_TRINK, first);
        if (!found && twoTrinkets)
            found = MTTrinkets.locate(Field::ID_TRINK, second);
        if (found && MTTrinkets.asInteger(Field::ID_RECORD) != recordId) {
            ShowError(OpsTexts::duplicateCode());
            return;
        }
        if (!DeviceOps::isButtonOne(quint32(first)) || (twoTrinkets && !DeviceOps::isButtonOne(quint32(second)))) {
            ShowError(OpsTexts::notButtonOne());
            return;
        }

        // The grid stays usable during the waits: should the record have gone meanwhile, no
        // other record may receive its trinkets.
        if (!MTTrinkets.locate(Field::ID_RECORD, recordId))
            return;
        MTTrinkets.edit();
        MTTrinkets.setInteger(Field::ID_TRINK, first);
        MTTrinkets.setText(Field::CODE, registerText(DeviceOps::TrinketCode(quint32(first))));
        if (twoTrinkets) {
            MTTrinkets.setInteger(Field::ID_TRINK_D, second);
            MTTrinkets.setText(Field::CODE_D, registerText(DeviceOps::TrinketCode(quint32(second))));
        }
        MTTrinkets.post();
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
    for (int n = 1; n <= DeviceOps::ZoneCount; ++n) {
        // Judged by the text: the boxes take typed text, and a text naming no mode means no choice.
        const int code = DeviceOps::zoneModeCode(SFParams->SensMode(n)->currentText());
        SFParams->SensMode(n)->setCurrentIndex(code < 0 ? 0 : code);
    }
    const bool sevenZones = SFOptions->RGModel->ItemIndex() == int(Model::QM407M);
    for (int n = 4; n <= DeviceOps::ZoneCount; ++n) {
        SFParams->SensMode(n)->setEnabled(sevenZones);
        SFParams->OpDelay(n)->setEnabled(sevenZones);
    }
    SFParams->CBDisExtCode->setEnabled(sevenZones);
    SFParams->CBAutoClose->setEnabled(sevenZones);
    SFParams->CBIndicOnlyAlarm->setEnabled(sevenZones);
    SFParams->CBNoMAT->setEnabled(sevenZones);
    SFParams->ShowModal();
}

void TFmTavro::BtWrParamsClick()
{
    std::optional<TWaitCursor> busy(std::in_place);
    Port.FlushPort();
    DefineModel();
    DeviceOps::ZoneParams params;
    for (int n = 1; n <= DeviceOps::ZoneCount; ++n) {
        params.modes[size_t(n - 1)] = DeviceOps::zoneModeCode(SFParams->SensMode(n)->currentText());
        params.delays[size_t(n - 1)] = SFParams->OpDelay(n)->value();
    }
    params.closeDelay = SFParams->CloseDelay->value();
    params.enBypass = SFParams->EnBypass->isChecked();
    params.disExtCode = SFParams->CBDisExtCode->isChecked() && SFParams->CBDisExtCode->isEnabled();
    params.autoClose = SFParams->CBAutoClose->isChecked();
    params.indicOnlyAlarm = SFParams->CBIndicOnlyAlarm->isChecked();
    params.noMat = SFParams->CBNoMAT->isChecked();

    const int zones = DeviceOps::zonesOf(SFOptions->RGModel->ItemIndex() == int(Model::QM407M));
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
    Port.FlushPort();
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
    Port.FlushPort();
    const DeviceOps::VersionReply reply = DeviceOps::readVersion(Device);
    if (!reply.complete) {
        busy.reset();
        ShowError(DeviceTexts::versionReadError());
        return;
    }
    DefineModel();
    QString text = DeviceOps::versionText(reply.major, reply.minor);
    if (DeviceOps::reportsRunTime(reply.major, reply.minor))
        text += DeviceOps::runTimeText(DeviceOps::readRunTime(Device));
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
        Port.FlushPort();
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
