#pragma once

#include "app/auxwindows.h"
#include "core/installercore.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class TFormStorage;
class TGridTrinket;
class TRegisterModel;
class TRegisterSearch;
class TServiceMenu;
class TSingleAppInstance;

// The main window: owns the installer core and the auxiliary windows, and routes every command
// to its handler. A handler reads its window's values, calls the core and shows the outcome;
// the device handlers live in mntavro_device.cpp. Its controls and windows are its described
// interface.
class TFmTavro final : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFmTavro(QWidget* parent = nullptr);
    ~TFmTavro() override;

    // An error while the window was built (outside FormCreate) was shown: main() must end
    // with exit code 0 without running the message loop.
    bool CreationFailed() const { return m_creationFailed; }

    // Controls of the main window.
    TGridTrinket* GridTrinket;
    TRegisterModel* GridModel;
    QPushButton* BtSetTrink;
    QPushButton* BtTestTrinket;
    QPushButton* BtSetParm;
    QPushButton* BtErase;
    QPushButton* BtAdd;
    QPushButton* BtEdit;
    QPushButton* BtDel;
    QMenu* N1; // "Система"
    QAction* N3; // "Опции"
    QAction* NPort; // "Порт"
    QAction* N2; // separator
    QAction* NExit; // "Выход(Ctr-X) "
    QMenu* NQM407; // "QM407"
    QAction* NSetMaster;
    QAction* NClrCnt;
    QAction* NSetParam; // follows ActSetParms
    QAction* NVersion;
    QAction* NJournal;
    QAction* EEPROM;
    QAction* NTrinket; // "Брелок", a command on the menu bar itself
    QMenu* NService; // "Сервис": the tool's own commands beyond the controller's
    QAction* ActSetTrinket;
    QAction* ActTestTrinket;
    QAction* ActSetParms;

    // The nine auxiliary windows.
    TSFEditItem* SFEditItem;
    TSFJournal* SFJournal;
    TSFROM* SFROM;
    TSFOptions* SFOptions;
    TSFPort* SFPort;
    TSFParams* SFParams;
    TSFSetupTrink* SFSetupTrink;
    TSFMakeFile* SFMakeFile;
    TSFTrinketDefine* SFTrinketDefine;

    // The register, the data file, the link and the controller, under the windows.
    InstallerCore Core;

    // Serial port: opens the port named by CBPort, reporting a failure in an error box.
    void Open();
    void Close();
    // Asks the controller for its version and selects the memory map; RGModel follows the core.
    Model DefineModel();
    // The eleven commands that must not run during a trinket wait.
    void EnableControls(bool enable);
    void SaveData();
    void FormCreate();
    void FormDestroy();

    // Device operations (mntavro_device.cpp).
    int SetupTrinket(int slot);

public slots:
    // Register editing.
    void BtAddClick();
    void BtEditClick();
    void BtDelClick();
    void BtEraseClick();
    void BtOkClick();
    // Data file recovery window.
    void BtRestoreClick();
    void BtNewClick();
    void BtTerminateClick();
    // System menu and options window.
    void N3Click();
    void NPortClick();
    void NExitClick();
    void BtDefModelClick();
    void SingleAppInstanceSecondInstance();
    // Device operations (mntavro_device.cpp).
    void NSetMasterClick();
    void BtSetTrinkClick();
    void BtTestTrinketClick();
    void BtTrinkCancelClick();
    void NSetParamClick();
    void BtWrParamsClick();
    void NJournalClick();
    void NVersionClick();
    void NClrCntClick();
    void EEPROMClick();
    void NTrinketClick();

private:
    class WindowWaitView; // shows a trinket wait in this window (mntavro_device.cpp)

    void buildControls();
    void wireControls(); // handlers and tab order of the controls
    void buildMenus();
    void buildActions();
    void bindWindows();
    void followCore();
    // Delete and erase: the current record, once the installer has said yes.
    void changeConfirmed(QString (*question)(const RecordStore&), void (*change)(RecordStore&));
    // A reading's lines in its window's memo (when it began), then the window or the failure.
    void showReading(TAuxWindow* window, QPlainTextEdit* memo, const std::optional<QStringList>& lines,
                     const QString& failure, void (*showFailure)(const QString&));
    // Shows why an enrolment recorded nothing.
    void showEnrolment(const InstallerCore::Enrolment& outcome);
    template <class Handler> void route(QAction* action, Handler handler);
    template <class Handler> void route(QPushButton* button, Handler handler);

    // The register the editing handlers work on (the core's).
    RecordStore& MTTrinkets {Core.store()};
    // The record the editor has open, for its console-number check.
    qint32 EditedRecordId = 0;

    TFormStorage* FormStorage = nullptr;
    TSingleAppInstance* SingleAppInstance = nullptr;
    TServiceMenu* ServiceMenu = nullptr; // the commands of "Сервис"
    TRegisterSearch* m_search = nullptr;

    bool m_creationFailed = false;
};
