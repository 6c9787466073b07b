// Handlers of the device operations: enrolment and test of trinkets, zone parameters,
// journal, version, counter reset and memory dump. Each reads its window's values, calls the
// core and shows the outcome; what the core throws goes on to the uncaught-error display.
#include "app/mntavro.h"

#include "app/messagebox.h"
#include "app/quitrequest.h"
#include "app/waitcursor.h"
#include "device/devicetexts.h"
#include "device/ops/opstexts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>

#include <optional>

// A trinket wait as the main window shows it: the wait window on top and the window system
// served between two reads. The commands that must not start follow the core's busy state.
class TFmTavro::WindowWaitView final : public InstallerCore::WaitView
{
public:
    explicit WindowWaitView(TFmTavro& window)
        : m_window(window)
    {
    }

    void showWait(const QString& label) override
    {
        m_shown = m_window.isVisible();
        m_window.SFSetupTrink->LbSetupTrink->setText(label);
        m_window.SFSetupTrink->Show();
    }
    void pump() override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Nobody is left to press "Отмена" once the tool is closing: end the wait for them.
        const bool closing = QuitRequest::requested() || (m_shown && !m_window.isVisible());
        if (closing && !m_window.Core.cancelRequested())
            m_window.BtTrinkCancelClick();
    }
    void hideWait() override { m_window.SFSetupTrink->Hide(); }

private:
    TFmTavro& m_window;
    bool m_shown = false;
};

int TFmTavro::SetupTrinket(int slot)
{
    WindowWaitView view(*this);
    return int(Core.setupTrinket(slot, view));
}

void TFmTavro::BtTrinkCancelClick()
{
    Core.cancelWait();
}

void TFmTavro::showEnrolment(const InstallerCore::Enrolment& outcome)
{
    switch (outcome.kind) {
    case InstallerCore::Enrolment::Recorded:
    case InstallerCore::Enrolment::Cancelled:
    case InstallerCore::Enrolment::RecordGone: // the register changed under the wait: nothing to say
        break;
    case InstallerCore::Enrolment::DuplicateCode:
        ShowError(OpsTexts::duplicateCode());
        break;
    case InstallerCore::Enrolment::NotButtonOne:
        ShowError(OpsTexts::notButtonOne());
        break;
    case InstallerCore::Enrolment::Failed:
        ShowError(outcome.message);
        break;
    }
}

void TFmTavro::NSetMasterClick()
{
    if (Core.masterCode() != 0 && !AskConfirmation(OpsTexts::masterExistsQuestion()))
        return;
    WindowWaitView view(*this);
    showEnrolment(Core.enrolMaster(view));
}

void TFmTavro::BtSetTrinkClick()
{
    const std::optional<InstallerCore::EnrolTarget> target = Core.enrolTarget();
    if (!target)
        return;
    EditedRecordId = target->recordId;
    if (target->hasTrinket && !AskConfirmation(OpsTexts::trinketExistsQuestion()))
        return;
    WindowWaitView view(*this);
    showEnrolment(Core.enrolTrinkets(target->recordId, view));
}

void TFmTavro::BtTestTrinketClick()
{
    WindowWaitView view(*this);
    const DeviceOps::TestOutcome outcome = Core.testTrinket(view);
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
    SFParams->prepareFor(SFOptions->model());
    SFParams->ShowModal();
}

void TFmTavro::BtWrParamsClick()
{
    const InstallerCore::ParamWrite written = WithWaitCursor([&] { return Core.writeZoneParams(SFParams->params()); });
    if (written.invalidZone != 0) {
        // The window stays open for the installer to pick a mode.
        SFParams->SetModalResult(TAuxWindow::mrNone);
        ShowError(OpsTexts::invalidZoneMode(written.invalidZone));
        return;
    }
    if (!written.differences.isEmpty())
        ShowError(DeviceOps::readBackReport(written.differences, Core.memoryMap()));
}

void TFmTavro::NJournalClick()
{
    const InstallerCore::JournalReading reading = WithWaitCursor([&] { return Core.readJournal(); });
    // The entries read before a failure stay in the window until the next reading.
    showReading(SFJournal, SFJournal->MmJournal, reading.started ? std::optional(reading.lines) : std::nullopt,
                reading.failure, ShowError);
}

void TFmTavro::NVersionClick()
{
    const InstallerCore::VersionReading reading = WithWaitCursor([&] { return Core.readVersion(); });
    if (!reading.complete)
        ShowError(DeviceTexts::versionReadError());
    else
        ShowResult(reading.text, OpsTexts::versionCaption());
}

void TFmTavro::NClrCntClick()
{
    TWaitCursor busy;
    Core.clearCounter();
}

void TFmTavro::EEPROMClick()
{
    const InstallerCore::MemoryDump dump = WithWaitCursor([&] { return Core.dumpMemory(); });
    // The complete lines stay until the next dump; a failure goes on to its display.
    showReading(SFROM, SFROM->MmROM, dump.lines, dump.failure, ShowUncaughtError);
}

void TFmTavro::showReading(TAuxWindow* window, QPlainTextEdit* memo, const std::optional<QStringList>& lines,
                           const QString& failure, void (*showFailure)(const QString&))
{
    if (lines)
        memo->setPlainText(lines->join(QLatin1Char('\n')));
    if (failure.isEmpty())
        window->ShowModal();
    else
        showFailure(failure);
}

void TFmTavro::NTrinketClick()
{
    SFTrinketDefine->ShowModal();
}
