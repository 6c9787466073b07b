#include "app/servicemenu.h"

#include "app/auxwindows.h"
#include "app/filedialog.h"
#include "app/formstorage.h"
#include "app/messagebox.h"
#include "app/waitcursor.h"
#include "core/installercore.h"
#include "device/ops/keptfiles.h"
#include "device/serialtrace.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSettings>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QAction* item(QMenu* menu, const QString& name, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
}

QWidget* dialogParent(QWidget* fallback)
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal : fallback;
}

// The file dialogs open in the installation's folder, so it exists while one is up; made for
// the dialog, it goes again when nothing was saved in it.
class DialogFolder final
{
public:
    explicit DialogFolder(const QString& path)
        : m_path(path)
        , m_made(QDir().mkdir(path))
    {
    }
    ~DialogFolder()
    {
        if (m_made)
            QDir().rmdir(m_path);
    }
    Q_DISABLE_COPY_MOVE(DialogFolder)
    QString path() const { return m_path; }

private:
    QString m_path;
    bool m_made;
};

const QString ImageFilter = QStringLiteral("Образ EEPROM (*.bin);;Все файлы (*)");
const QString SerialTraceValue = QStringLiteral("SerialTrace");
const QString CheckParamWriteValue = QStringLiteral("CheckParamWrite");

} // namespace

TSFCompare::TSFCompare(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFCompare"), QStringLiteral("Сравнение с образцом"), QSize(460, 300),
                 Frame::Resizable)
{
    MmCompare = fillingMemo(QStringLiteral("MmCompare"));
    MmCompare->setReadOnly(true);
    MmCompare->setFont(courierFont());
}

TServiceMenu::TServiceMenu(InstallerCore& core, QMenu* menu, QPlainTextEdit* journalMemo, TSFROM* dumpWindow,
                           QWidget* mainWindow)
    : QObject(mainWindow)
    , m_core(core)
    , m_window(mainWindow)
    , m_journalMemo(journalMemo)
    , m_dumpWindow(dumpWindow)
{
    setObjectName(QStringLiteral("ServiceMenu"));
    if (!menu->isEmpty())
        menu->addSeparator(); // after the register's own commands
    NSaveJournalText
        = item(menu, QStringLiteral("NSaveJournalText"), QStringLiteral("Сохранить журнал в текстовый файл..."));
    NSaveJournalCsv = item(menu, QStringLiteral("NSaveJournalCsv"), QStringLiteral("Сохранить журнал в CSV..."));
    NPrintJournal = item(menu, QStringLiteral("NPrintJournal"), QStringLiteral("Печать журнала..."));
    menu->addSeparator();
    NSaveImage = item(menu, QStringLiteral("NSaveImage"), QStringLiteral("Сохранить образ EEPROM..."));
    NCompareImage = item(menu, QStringLiteral("NCompareImage"), QStringLiteral("Сравнить с образцом..."));
    menu->addSeparator();
    NSerialTrace = item(menu, QStringLiteral("NSerialTrace"), QStringLiteral("Трассировка обмена с QM407"));
    NCheckParamWrite = item(menu, QStringLiteral("NCheckParamWrite"), QStringLiteral("Проверять запись параметров"));
    SFCompare = new TSFCompare(mainWindow);

    for (QAction* option : {NSerialTrace, NCheckParamWrite})
        option->setCheckable(true);
    {
        std::unique_ptr<QSettings> store = TFormStorage::openStore();
        store->beginGroup(settingsGroup());
        NSerialTrace->setChecked(store->value(SerialTraceValue).toString() == QLatin1String("1"));
        NCheckParamWrite->setChecked(store->value(CheckParamWriteValue).toString() == QLatin1String("1"));
    }
    for (QAction* command : {NSaveJournalText, NSaveJournalCsv, NPrintJournal, NSaveImage})
        command->setEnabled(false);

    connect(NSaveJournalText, &QAction::triggered, this, Guarded(this, &TServiceMenu::NSaveJournalTextClick));
    connect(NSaveJournalCsv, &QAction::triggered, this, Guarded(this, &TServiceMenu::NSaveJournalCsvClick));
    connect(NPrintJournal, &QAction::triggered, this, Guarded(this, &TServiceMenu::NPrintJournalClick));
    connect(NSaveImage, &QAction::triggered, this, Guarded(this, &TServiceMenu::NSaveImageClick));
    connect(NCompareImage, &QAction::triggered, this, Guarded(this, &TServiceMenu::NCompareImageClick));
    connect(NSerialTrace, &QAction::toggled, this, [this](bool on) {
        storeOption(SerialTraceValue, on);
        applyTrace();
    });
    connect(NCheckParamWrite, &QAction::toggled, this, [this](bool on) {
        storeOption(CheckParamWriteValue, on);
        m_core.setCheckParamWrite(on);
    });
    m_core.setCheckParamWrite(NCheckParamWrite->isChecked());

    for (QPlainTextEdit* memo : {journalMemo, dumpWindow->MmROM}) {
        memo->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(memo, &QWidget::customContextMenuRequested, this, [this, memo](const QPoint& at) {
            std::unique_ptr<QMenu> menu(contextMenu(memo));
            menu->exec(memo->viewport()->mapToGlobal(at));
        });
    }
    applyTrace();
    followCore();
}

// The link is gone by now (the window's members end before its children): nothing to unhook.
TServiceMenu::~TServiceMenu() = default;

void TServiceMenu::storeOption(const QString& name, bool on)
{
    std::unique_ptr<QSettings> store = TFormStorage::openStore();
    store->beginGroup(settingsGroup());
    store->setValue(name, on ? QStringLiteral("1") : QStringLiteral("0"));
    store->endGroup();
    store->sync();
}

void TServiceMenu::applyTrace()
{
    // Without a trace the link pays one pointer test per transfer.
    std::unique_ptr<SerialTrace> next;
    // Traced lines are written in the middle of an exchange: the box waits for its end.
    const auto report = [this](const QString& message) {
        QMetaObject::invokeMethod(
            this, [message] { ShowError(message); }, Qt::QueuedConnection);
    };
    const QString folder = NSerialTrace->isChecked() ? SerialTrace::defaultFolder() : QString();
    if (NSerialTrace->isChecked() || lcSerial().isDebugEnabled())
        next = std::make_unique<SerialTrace>(folder, report);
    m_core.link().setTrace(next.get());
    m_trace = std::move(next);
}

void TServiceMenu::followCore()
{
    // A reading that began shows, even cut short; only a complete dump can be kept as an image.
    connect(&m_core, &InstallerCore::journalChanged, this, [this] {
        for (QAction* command : {NSaveJournalText, NSaveJournalCsv, NPrintJournal})
            command->setEnabled(!m_core.journal().lines.isEmpty());
    });
    connect(&m_core, &InstallerCore::memoryChanged, this,
            [this] { NSaveImage->setEnabled(m_core.lastDump().cells.size() == DeviceOps::ImageSize); });
    // Comparing reads the controller, which a trinket wait is talking to.
    connect(&m_core, &InstallerCore::busyChanged, this, [this](bool busy) { NCompareImage->setEnabled(!busy); });
}

QString TServiceMenu::consoleNumber() const
{
    return m_core.currentConsoleNumber();
}

QString TServiceMenu::installationFolder() const
{
    return KeptFiles::installationFolder(QFileInfo(m_core.dataFile().dataPath()).absolutePath(), consoleNumber());
}

void TServiceMenu::saveJournal(const QString& suffix, const QString& filter, const QByteArray& bytes)
{
    const DialogFolder folder(installationFolder());
    const QString proposed
        = QDir(folder.path()).filePath(KeptFiles::journalBaseName(consoleNumber(), QDate::currentDate()) + suffix);
    const QString path
        = FileDialog::saveFileName(dialogParent(m_window), QStringLiteral("Сохранить журнал"), proposed, filter);
    if (path.isEmpty())
        return;
    if (const Outcome written = KeptFiles::writeFile(path, bytes); !written)
        ShowError(written.error());
}

void TServiceMenu::NSaveJournalTextClick()
{
    saveJournal(QStringLiteral(".txt"), QStringLiteral("Текст (*.txt)"), KeptFiles::textFile(m_core.journal().lines));
}

void TServiceMenu::NSaveJournalCsvClick()
{
    saveJournal(QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"), KeptFiles::journalCsv(m_core.journal().entries));
}

void TServiceMenu::NPrintJournalClick()
{
    const QString console = consoleNumber();
    QTextDocument document;
    document.setDefaultFont(TAuxWindow::courierFont());
    QStringList text {QStringLiteral("Журнал событий QM407") + (console.isEmpty() ? QString() : u' ' + console),
                      QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")), QString()};
    document.setPlainText((text + m_core.journal().lines).join(QLatin1Char('\n')));
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(KeptFiles::journalBaseName(console, QDate::currentDate()));
    QPrintPreviewDialog preview(&printer, dialogParent(m_window));
    preview.setObjectName(QStringLiteral("JournalPreview"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
            [&document](QPrinter* target) { document.print(target); });
    preview.exec();
}

void TServiceMenu::NSaveImageClick()
{
    const InstallerCore::MemoryDump& dump = m_core.lastDump();
    if (dump.cells.size() != DeviceOps::ImageSize)
        return;
    const DialogFolder folder(installationFolder());
    const QString proposed = QDir(folder.path()).filePath(KeptFiles::imageStamp(dump.time) + QStringLiteral(".bin"));
    const QString path = FileDialog::saveFileName(dialogParent(m_window), QStringLiteral("Сохранить образ EEPROM"),
                                                  proposed, ImageFilter);
    if (path.isEmpty())
        return;
    // The dialog confirmed replacing the image, not the text that goes beside it.
    const QString textPath = KeptFiles::dumpTextPath(path);
    if (QFileInfo::exists(textPath)
        && !AskConfirmation(
            QStringLiteral("Файл %1 уже существует. Заменить?").arg(QDir::toNativeSeparators(textPath))))
        return;
    Outcome written = KeptFiles::writeFile(path, dump.cells);
    if (written)
        written = KeptFiles::writeFile(textPath, KeptFiles::textFile(dump.lines));
    if (!written)
        ShowError(written.error());
}

void TServiceMenu::NCompareImageClick()
{
    if (m_core.busy())
        return;
    QString path;
    {
        const DialogFolder folder(installationFolder());
        path = FileDialog::openFileName(dialogParent(m_window), QStringLiteral("Сравнить с образцом"), folder.path(),
                                        ImageFilter);
    }
    if (path.isEmpty())
        return;
    const Expected<QByteArray> sample = KeptFiles::readImage(path);
    if (!sample) {
        ShowError(sample.error());
        return;
    }
    // From the dump window the dump shown is compared; from the menu the controller is read now.
    const QList<DeviceOps::CellDifference> differences
        = WithWaitCursor([&] { return m_core.compareWithImage(*sample, m_dumpWindow->IsShowingModally()); });
    SFCompare->MmCompare->setPlainText(
        DeviceOps::comparisonText(differences, m_core.memoryMap(), QFileInfo(path).fileName()));
    SFCompare->ShowModal();
}

QMenu* TServiceMenu::contextMenu(QPlainTextEdit* memo)
{
    QMenu* menu = memo->createStandardContextMenu();
    menu->addSeparator();
    if (memo == m_journalMemo)
        menu->addActions({NSaveJournalText, NSaveJournalCsv, NPrintJournal});
    else
        menu->addActions({NSaveImage, NCompareImage});
    return menu;
}
