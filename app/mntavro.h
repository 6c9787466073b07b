#pragma once

#include "auxwindows.h"
#include "controller.h"
#include "datafile.h"
#include "recordstore.h"
#include "seriallink.h"

#include <QMainWindow>

class QAction;
class QMenu;
class QPushButton;
class TFormStorage;
class TGridTrinket;
class TRegisterModel;
class TRegisterSearch;
class TServiceMenu;
class TSingleAppInstance;

// The main window: owns the register, the data file, the serial port and the auxiliary
// windows, and routes every command to its handler. The handlers call into device/ and
// register/; the device handlers live in mntavro_device.cpp. Its controls and windows are its
// described interface; the register, the link and the values shared by handlers are its own.
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

    // Serial port: opens the port named by CBPort, reporting a failure in an error box.
    void Open();
    void Close();
    // Asks the controller for its version, selects the memory map and sets RGModel to the model
    // it gives back.
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
    class WindowWaitHost; // runs a trinket wait in this window (mntavro_device.cpp)

    void buildControls();
    void buildMenus();
    void buildActions();
    void bindWindows();
    void lookUpMaster();
    template <class Handler> void route(QAction* action, Handler handler);
    template <class Handler> void route(QPushButton* button, Handler handler);

    // Register, data file and device. The grid and its model refer to the register: being
    // children, they would outlive these members, so the destructor deletes them first.
    RecordStore MTTrinkets;
    DataFile DataStream {MTTrinkets};
    SerialLink Port;
    Controller Device {Port};

    // Values shared between the handlers (MaxRecordId lives in DataStream).
    qint32& MaxRecordId() { return DataStream.MaxRecordId; }
    qint32 EditedRecordId = 0;
    qint32 MasterCode = 0;
    bool CancelRequested = false;

    TFormStorage* FormStorage = nullptr;
    TSingleAppInstance* SingleAppInstance = nullptr;
    TServiceMenu* ServiceMenu = nullptr; // the commands of "Сервис"
    TRegisterSearch* m_search = nullptr;

    bool m_creationFailed = false;
};
