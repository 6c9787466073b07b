#include "app/mntavro.h"

#include "app/formstorage.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/quitrequest.h"
#include "app/registerexchange.h"
#include "app/registermodel.h"
#include "app/registersearch.h"
#include "app/screenfit.h"
#include "app/servicemenu.h"
#include "app/singleappinstance.h"
#include "app/waitcursor.h"
#include "register/editing.h"
#include "register/text1251.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

namespace {

QAction* namedAction(QObject* parent, const QString& name, const QString& text)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(name);
    return action;
}

} // namespace

TFmTavro::TFmTavro(QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                      | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FmTavro"));
    setWindowTitle(QStringLiteral("Установщик параметров QM407"));
    setFont(TAuxWindow::sansFont());

    buildActions();
    buildMenus();
    buildControls();
    SFEditItem = new TSFEditItem(this);
    SFJournal = new TSFJournal(this);
    SFROM = new TSFROM(this);
    SFOptions = new TSFOptions(this);
    SFPort = new TSFPort(this);
    SFParams = new TSFParams(this);
    SFSetupTrink = new TSFSetupTrink(this);
    SFMakeFile = new TSFMakeFile(this);
    SFTrinketDefine = new TSFTrinketDefine(this);
    bindWindows();
    m_search = new TRegisterSearch(GridTrinket, centralWidget(), this);
    new TRegisterExchange(Core, NService, this);
    ServiceMenu = new TServiceMenu(Core, NService, SFJournal->MmJournal, SFROM, this);
    followCore();

    // The fixed size is known only once the layout has run; centre that, not the default size.
    layout()->activate();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // A window larger than the screen (high scale factors) starts at its corner, not off it.
    ScreenFit::keepOnScreen(this);

    FormStorage = new TFormStorage(this);
    SingleAppInstance = new TSingleAppInstance(this);
    SingleAppInstance->setObjectName(QStringLiteral("SingleAppInstance"));
    SingleAppInstance->SetMarker(QStringLiteral("{DE93EB52-9B04-4347-BDA5-B46D457C1F86}"));
    connect(SingleAppInstance, &TSingleAppInstance::secondInstance, this, &TFmTavro::SingleAppInstanceSecondInstance);
    try {
        SingleAppInstance->Loaded();
    } catch (const std::exception&) {
        ShowUncaughtException();
        m_creationFailed = true;
        return;
    }
    Close();
    // A second copy ends at once: it loads nothing, so it can write nothing either.
    if (QuitRequest::requested())
        return;
    // The start-up opens the stored port, not the designed "COM1" while another one is shown.
    RunGuarded([this] { FormStorage->restorePort(); });
    RunGuarded([this] { FormCreate(); });
}

TFmTavro::~TFmTavro()
{
    if (FormStorage)
        FormStorage->formDestroying();
    RunGuarded([this] { FormDestroy(); });
    // What refers to the register ends before it does.
    delete m_search;
    delete GridTrinket;
    delete GridModel;
    m_search = nullptr;
    GridTrinket = nullptr;
    GridModel = nullptr;
}

void TFmTavro::buildActions()
{
    ActSetTrinket = namedAction(this, QStringLiteral("ActSetTrinket"), QStringLiteral("Установить брелки (F2)"));
    ActSetTrinket->setShortcut(QKeySequence(Qt::Key_F2));
    ActTestTrinket = namedAction(this, QStringLiteral("ActTestTrinket"), QStringLiteral("Проверить брелок (F3)"));
    ActTestTrinket->setShortcut(QKeySequence(Qt::Key_F3));
    ActSetParms = namedAction(this, QStringLiteral("ActSetParms"), QStringLiteral("Установить параметры..."));
    // Shortcuts of the actions work wherever the focus is in the main window.
    addAction(ActSetTrinket);
    addAction(ActTestTrinket);
    addAction(ActSetParms);
    route(ActSetTrinket, &TFmTavro::BtSetTrinkClick);
    route(ActTestTrinket, &TFmTavro::BtTestTrinketClick);
    route(ActSetParms, &TFmTavro::NSetParamClick);
}

void TFmTavro::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));

    const auto menu = [bar](const QString& name, const QString& text) {
        QMenu* m = bar->addMenu(text);
        m->setObjectName(name);
        return m;
    };
    const auto item = [](QMenu* in, const QString& name, const QString& text) {
        QAction* action = in->addAction(text);
        action->setObjectName(name);
        return action;
    };
    N1 = menu(QStringLiteral("N1"), QStringLiteral("Система"));
    N3 = item(N1, QStringLiteral("N3"), QStringLiteral("Опции"));
    NPort = item(N1, QStringLiteral("NPort"), QStringLiteral("Порт"));
    N2 = N1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    NExit = item(N1, QStringLiteral("NExit"), QStringLiteral("Выход(Ctr-X) "));
    NExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    addAction(NExit);

    NQM407 = menu(QStringLiteral("NQM407"), QStringLiteral("QM407"));
    NSetMaster = item(NQM407, QStringLiteral("NSetMaster"), QStringLiteral("Установить брелок-мастер..."));
    NClrCnt = item(NQM407, QStringLiteral("NClrCnt"), QStringLiteral("Очистить счетчик"));
    NSetParam = item(NQM407, QStringLiteral("NSetParam"), ActSetParms->text());
    NVersion = item(NQM407, QStringLiteral("NVersion"), QStringLiteral("Считать версию..."));
    NJournal = item(NQM407, QStringLiteral("NJournal"), QStringLiteral("Считать журнал..."));
    EEPROM = item(NQM407, QStringLiteral("EEPROM"), QStringLiteral("Считать EEPROM..."));

    NTrinket = bar->addAction(QStringLiteral("Брелок"));
    NTrinket->setObjectName(QStringLiteral("NTrinket"));

    NService = menu(QStringLiteral("NService"), QStringLiteral("Сервис"));

    route(N3, &TFmTavro::N3Click);
    route(NPort, &TFmTavro::NPortClick);
    route(NExit, &TFmTavro::NExitClick);
    route(NSetMaster, &TFmTavro::NSetMasterClick);
    route(NClrCnt, &TFmTavro::NClrCntClick);
    route(NVersion, &TFmTavro::NVersionClick);
    route(NJournal, &TFmTavro::NJournalClick);
    route(EEPROM, &TFmTavro::EEPROMClick);
    route(NTrinket, &TFmTavro::NTrinketClick);
    // The menu item is driven by the action: same handler, same enabled state.
    connect(NSetParam, &QAction::triggered, ActSetParms, &QAction::trigger);
    connect(ActSetParms, &QAction::changed, NSetParam, [this] { NSetParam->setEnabled(ActSetParms->isEnabled()); });
}

void TFmTavro::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(736, 412);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    GridModel = new TRegisterModel(MTTrinkets, this);
    GridTrinket = new TGridTrinket(MTTrinkets, GridModel, client);
    GridTrinket->setGeometry(0, 0, 561, 409);

    struct ButtonDesign
    {
        QPushButton** button;
        const char* name;
        int y;
        QString caption;
        QString hint;
    };
    const ButtonDesign designs[] = {
        {&BtSetTrink, "BtSetTrink", 104, QStringLiteral("Установить брелки (F2)"), QString()},
        {&BtTestTrinket, "BtTestTrinket", 136, QStringLiteral("Проверить брелок (F3)"), QString()},
        {&BtSetParm, "BtSetParm", 168, QStringLiteral("Установить параметры..."), QString()},
        {&BtErase, "BtErase", 256, QStringLiteral("Стереть..."),
         QStringLiteral("Стирание информации об установленном брелке в выбранном экземпляре QM407")},
        {&BtAdd, "BtAdd", 288, QStringLiteral("Добавить..."),
         QStringLiteral("Ввод информации о новом экземпляре QM407")},
        {&BtEdit, "BtEdit", 320, QStringLiteral("Изменить..."),
         QStringLiteral("Изменение информации о выбранном экземпляре QM407")},
        {&BtDel, "BtDel", 352, QStringLiteral("Удалить..."), QStringLiteral("Удаление выбранного экземпляра QM407")},
    };
    for (const ButtonDesign& design : designs) {
        auto* button = new QPushButton(design.caption, client);
        button->setObjectName(QLatin1String(design.name));
        button->setGeometry(568, design.y, 165, 25);
        button->setToolTip(design.hint);
        // Enter presses the focused button, as Space does.
        button->setAutoDefault(true);
        *design.button = button;
    }

    wireControls();
}

void TFmTavro::wireControls()
{
    // Buttons driven by an action run it and follow its enabled state.
    const std::pair<QPushButton*, QAction*> driven[]
        = {{BtSetTrink, ActSetTrinket}, {BtTestTrinket, ActTestTrinket}, {BtSetParm, ActSetParms}};
    for (const auto& [button, action] : driven) {
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::changed, button,
                [button = button, action = action] { button->setEnabled(action->isEnabled()); });
    }
    route(BtErase, &TFmTavro::BtEraseClick);
    route(BtAdd, &TFmTavro::BtAddClick);
    route(BtEdit, &TFmTavro::BtEditClick);
    route(BtDel, &TFmTavro::BtDelClick);
    // Also during a trinket wait: the enrolment keeps the record it started with.
    connect(GridTrinket, &TGridTrinket::rowDoubleClicked, this, Guarded(this, &TFmTavro::BtEditClick));

    setTabOrder(GridTrinket, BtSetTrink);
    setTabOrder(BtSetTrink, BtTestTrinket);
    setTabOrder(BtTestTrinket, BtErase);
    setTabOrder(BtErase, BtAdd);
    setTabOrder(BtAdd, BtEdit);
    setTabOrder(BtEdit, BtDel);
    setTabOrder(BtDel, BtSetParm);
    GridTrinket->setFocus();
}

void TFmTavro::bindWindows()
{
    SFEditItem->setClickHandler(SFEditItem->BtOk, [this] { BtOkClick(); });
    SFOptions->setClickHandler(SFOptions->BtDefModel, [this] { BtDefModelClick(); });
    SFParams->setClickHandler(SFParams->BtWrParams, [this] { BtWrParamsClick(); });
    SFSetupTrink->setClickHandler(SFSetupTrink->BtTrinkCancel, [this] { BtTrinkCancelClick(); });
    SFMakeFile->setClickHandler(SFMakeFile->BtRestore, [this] { BtRestoreClick(); });
    SFMakeFile->setClickHandler(SFMakeFile->BtNew, [this] { BtNewClick(); });
    SFMakeFile->setClickHandler(SFMakeFile->BtTerminate, [this] { BtTerminateClick(); });
}

template <class Handler> void TFmTavro::route(QAction* action, Handler handler)
{
    connect(action, &QAction::triggered, this, Guarded(this, handler));
}

template <class Handler> void TFmTavro::route(QPushButton* button, Handler handler)
{
    connect(button, &QPushButton::clicked, this, Guarded(this, handler));
}

void TFmTavro::followCore()
{
    // The commands that must not start during a trinket wait. "Опции" stays usable, but a
    // detection now would take the controller's answer to the wait for its own.
    connect(&Core, &InstallerCore::busyChanged, this, [this](bool busy) {
        EnableControls(!busy);
        SFOptions->BtDefModel->setEnabled(!busy);
    });
    connect(&Core, &InstallerCore::modelDetected, SFOptions, &TSFOptions::setModel);
    Core.setTwoTrinkets(SFOptions->twoTrinkets());
    connect(SFOptions, &TSFOptions::twoTrinketsChanged, &Core, &InstallerCore::setTwoTrinkets);
}

void TFmTavro::Open()
{
    if (const Outcome opened = Core.openPort(SFPort->portName()); !opened)
        ShowError(opened.error());
}

void TFmTavro::Close()
{
    Core.closePort();
}

Model TFmTavro::DefineModel()
{
    return Core.defineModel();
}

void TFmTavro::EnableControls(bool enable)
{
    NPort->setEnabled(enable);
    NQM407->menuAction()->setEnabled(enable);
    NExit->setEnabled(enable);
    NTrinket->setEnabled(enable);
    ActSetTrinket->setEnabled(enable);
    ActTestTrinket->setEnabled(enable);
    ActSetParms->setEnabled(enable);
    BtErase->setEnabled(enable);
    BtAdd->setEnabled(enable);
    BtEdit->setEnabled(enable);
    BtDel->setEnabled(enable);
}

void TFmTavro::SaveData()
{
    Core.saveData();
}

void TFmTavro::FormCreate()
{
    DataFile& data = Core.dataFile();
    const int loaded = Core.loadData();
    // A save journal found and left alone (not this file's, not a file, not the user's) is
    // named before anything else: the register loaded without it.
    if (!data.loadNotice().isEmpty())
        ShowError(data.loadNotice());
    if (loaded != 0) {
        SFMakeFile->BtRestore->setEnabled(data.backupExists());
        SFMakeFile->ShowModal();
    }
    // "Завершить" or a failed repair: the program ends, so don't touch the port either.
    if (QuitRequest::requested())
        return;
    Open();
    Core.lookUpMaster();
}

void TFmTavro::FormDestroy()
{
    // A failed final write throws here and skips the backup copy, keeping the old backup.
    if (!Core.dataFile().shutDown())
        ShowError(QStringLiteral("Резервная копия %1 не обновлена. Файл данных сохранён.")
                      .arg(QDir::toNativeSeparators(Core.dataFile().backupPath())));
    Close();
}

void TFmTavro::BtRestoreClick()
{
    if (const Outcome done = Core.dataFile().restoreFromBackup(); !done) {
        ShowError(done.error());
        QuitRequest::request();
    }
}

void TFmTavro::BtNewClick()
{
    if (const Outcome done = Core.dataFile().createAnew(); !done) {
        ShowError(done.error());
        QuitRequest::request();
    }
}

void TFmTavro::BtTerminateClick()
{
    QuitRequest::request();
}

void TFmTavro::BtAddClick()
{
    if (!MTTrinkets.isActive())
        MTTrinkets.first(); // the store's own error names the closed register
    SFEditItem->setRecord({});
    EditedRecordId = -1;
    if (SFEditItem->ShowModal() != TAuxWindow::mrOk)
        return;
    const TSFEditItem::Entry entry = SFEditItem->record();
    Core.addRecord(Text1251::fromUnicode(entry.consoleNumber), Text1251::fromUnicode(entry.address));
}

void TFmTavro::BtEditClick()
{
    if (!Editing::canEdit(MTTrinkets))
        return;
    EditedRecordId = MTTrinkets.asInteger(Field::ID_RECORD);
    // The window is modal, so rows don't move while it is open.
    const int editedRow = MTTrinkets.currentRow();
    SFEditItem->setRecord({Text1251::toUnicode(MTTrinkets.asText(Field::ADDRESS)),
                           Text1251::toUnicode(MTTrinkets.asText(Field::PULT_NUM))});
    if (SFEditItem->ShowModal() != TAuxWindow::mrOk) {
        MTTrinkets.cancel();
        return;
    }
    // The number check finds records by number and may leave another one current: a negative,
    // null or repeated ID_RECORD can't be found again that way. The change belongs to the
    // record that was opened.
    MTTrinkets.setCurrentRow(editedRow);
    const TSFEditItem::Entry entry = SFEditItem->record();
    Editing::editCurrent(MTTrinkets, Text1251::fromUnicode(entry.consoleNumber), Text1251::fromUnicode(entry.address));
    SaveData();
}

void TFmTavro::BtOkClick()
{
    QByteArray number = Text1251::fromUnicode(SFEditItem->record().consoleNumber);
    const Editing::CheckResult result = Editing::checkConsoleNumber(MTTrinkets, number, EditedRecordId);
    SFEditItem->setConsoleNumber(Text1251::toUnicode(number));
    if (result == Editing::CheckResult::Accepted)
        return;
    SFEditItem->SetModalResult(TAuxWindow::mrNone);
    ShowError(result == Editing::CheckResult::Empty ? Editing::emptyConsoleNumberText()
                                                    : Editing::duplicateConsoleNumberText());
}

void TFmTavro::BtDelClick()
{
    changeConfirmed(Editing::deleteQuestion, Editing::deleteCurrent);
}

void TFmTavro::BtEraseClick()
{
    changeConfirmed(Editing::eraseQuestion, Editing::eraseTrinket);
}

void TFmTavro::changeConfirmed(QString (*question)(const RecordStore&), void (*change)(RecordStore&))
{
    if (!Editing::canDeleteOrErase(MTTrinkets) || !AskConfirmation(question(MTTrinkets)))
        return;
    change(MTTrinkets);
    SaveData();
}

void TFmTavro::N3Click()
{
    SFOptions->ShowModal();
}

void TFmTavro::NPortClick()
{
    SFPort->ShowModal();
    Close();
    Open();
}

void TFmTavro::NExitClick()
{
    QuitRequest::request();
}

void TFmTavro::BtDefModelClick()
{
    TWaitCursor wait;
    DefineModel();
}

void TFmTavro::SingleAppInstanceSecondInstance()
{
    QuitRequest::request();
}
