#include "servicemenu.h"

#include "controller.h"
#include "filedialog.h"
#include "formstorage.h"
#include "keptfiles.h"
#include "memoryimage.h"
#include "messagebox.h"
#include "mntavro.h"
#include "serialtrace.h"
#include "service.h"
#include "text1251.h"
#include "waitcursor.h"

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
    MmCompare = new QPlainTextEdit(this);
    MmCompare->setObjectName(QStringLiteral("MmCompare"));
    MmCompare->setReadOnly(true);
    MmCompare->setFont(courierFont());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MmCompare);
}

TServiceMenu::TServiceMenu(TFmTavro& window, SerialLink& port, Controller& device, const RecordStore& store,
                           const DataFile& data)
    : QObject(&window)
    , m_window(window)
    , m_port(port)
    , m_device(device)
    , m_store(store)
    , m_data(data)
{
    setObjectName(QStringLiteral("ServiceMenu"));
    QMenu* menu = window.NService;
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
    SFCompare = new TSFCompare(&window);

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
    connect(NCheckParamWrite, &QAction::toggled, this, [this](bool on) { storeOption(CheckParamWriteValue, on); });

    for (QPlainTextEdit* memo : {window.SFJournal->MmJournal, window.SFROM->MmROM}) {
        memo->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(memo, &QWidget::customContextMenuRequested, this, [this, memo](const QPoint& at) {
            std::unique_ptr<QMenu> menu(contextMenu(memo));
            menu->exec(memo->viewport()->mapToGlobal(at));
        });
    }
    applyTrace();
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
    m_port.setTrace(next.get());
    m_trace = std::move(next);
}

void TServiceMenu::journalRead(const QList<DeviceOps::JournalEntry>& entries, const QStringList& lines)
{
    m_entries = entries;
    m_journalLines = lines;
    for (QAction* command : {NSaveJournalText, NSaveJournalCsv, NPrintJournal})
        command->setEnabled(!lines.isEmpty());
}

void TServiceMenu::memoryRead(const QByteArray& cells, const QStringList& lines)
{
    const bool complete = cells.size() == DeviceOps::ImageSize;
    m_cells = complete ? cells : QByteArray();
    m_dumpLines = complete ? lines : QStringList();
    m_dumpTime = QDateTime::currentDateTime();
    NSaveImage->setEnabled(complete);
}

void TServiceMenu::setDeviceCommandsEnabled(bool enable)
{
    m_deviceCommands = enable;
    NCompareImage->setEnabled(enable);
}

QString TServiceMenu::consoleNumber() const
{
    const RecordStore& store = m_store;
    if (!store.isActive() || store.currentRow() < 0 || store.eof())
        return QString();
    return Text1251::toUnicode(store.asText(Field::PULT_NUM));
}

QString TServiceMenu::installationFolder() const
{
    return KeptFiles::installationFolder(QFileInfo(m_data.dataPath()).absolutePath(), consoleNumber());
}

void TServiceMenu::saveJournal(const QString& suffix, const QString& filter, const QByteArray& bytes)
{
    const DialogFolder folder(installationFolder());
    const QString proposed
        = QDir(folder.path()).filePath(KeptFiles::journalBaseName(consoleNumber(), QDate::currentDate()) + suffix);
    const QString path
        = FileDialog::saveFileName(dialogParent(&m_window), QStringLiteral("Сохранить журнал"), proposed, filter);
    QString error;
    if (!path.isEmpty() && !KeptFiles::writeFile(path, bytes, &error))
        ShowError(error);
}

void TServiceMenu::NSaveJournalTextClick()
{
    saveJournal(QStringLiteral(".txt"), QStringLiteral("Текст (*.txt)"), KeptFiles::textFile(m_journalLines));
}

void TServiceMenu::NSaveJournalCsvClick()
{
    saveJournal(QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"), KeptFiles::journalCsv(m_entries));
}

void TServiceMenu::NPrintJournalClick()
{
    const QString console = consoleNumber();
    QTextDocument document;
    document.setDefaultFont(TAuxWindow::courierFont());
    QStringList text {QStringLiteral("Журнал событий QM407") + (console.isEmpty() ? QString() : u' ' + console),
                      QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")), QString()};
    document.setPlainText((text + m_journalLines).join(QLatin1Char('\n')));
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(KeptFiles::journalBaseName(console, QDate::currentDate()));
    QPrintPreviewDialog preview(&printer, dialogParent(&m_window));
    preview.setObjectName(QStringLiteral("JournalPreview"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
            [&document](QPrinter* target) { document.print(target); });
    preview.exec();
}

void TServiceMenu::NSaveImageClick()
{
    if (m_cells.size() != DeviceOps::ImageSize)
        return;
    const DialogFolder folder(installationFolder());
    const QString proposed = QDir(folder.path()).filePath(KeptFiles::imageStamp(m_dumpTime) + QStringLiteral(".bin"));
    const QString path = FileDialog::saveFileName(dialogParent(&m_window), QStringLiteral("Сохранить образ EEPROM"),
                                                  proposed, ImageFilter);
    if (path.isEmpty())
        return;
    // The dialog confirmed replacing the image, not the text that goes beside it.
    const QString textPath = KeptFiles::dumpTextPath(path);
    if (QFileInfo::exists(textPath)
        && !AskConfirmation(
            QStringLiteral("Файл %1 уже существует. Заменить?").arg(QDir::toNativeSeparators(textPath))))
        return;
    QString error;
    if (!KeptFiles::writeFile(path, m_cells, &error)
        || !KeptFiles::writeFile(textPath, KeptFiles::textFile(m_dumpLines), &error))
        ShowError(error);
}

void TServiceMenu::NCompareImageClick()
{
    if (!m_deviceCommands)
        return;
    QString path;
    {
        const DialogFolder folder(installationFolder());
        path = FileDialog::openFileName(dialogParent(&m_window), QStringLiteral("Сравнить с образцом"), folder.path(),
                                        ImageFilter);
    }
    if (path.isEmpty())
        return;
    QByteArray sample;
    QString error;
    if (!KeptFiles::readImage(path, &sample, &error)) {
        ShowError(error);
        return;
    }
    // From the dump window the dump shown is compared; from the menu the controller is read now.
    const bool fromDump = m_window.SFROM->IsShowingModally() && m_cells.size() == DeviceOps::ImageSize;
    QByteArray present = m_cells;
    {
        TWaitCursor busy;
        m_device.drain();
        // The map gives the cells their meaning.
        m_window.DefineModel();
        if (!fromDump) {
            QStringList lines;
            DeviceOps::dumpMemory(m_device, lines, &present);
        }
    }
    const QList<DeviceOps::CellDifference> differences = DeviceOps::compareImages(sample, present);
    SFCompare->MmCompare->setPlainText(
        DeviceOps::comparisonText(differences, m_device.memoryMap(), QFileInfo(path).fileName()));
    SFCompare->ShowModal();
}

void TServiceMenu::checkParamWrite(const DeviceOps::ZoneParams& params, int zones)
{
    if (!NCheckParamWrite->isChecked())
        return;
    const MemoryMap map = m_device.memoryMap();
    QList<DeviceOps::CellDifference> differences;
    {
        TWaitCursor busy;
        differences = DeviceOps::readBack(m_device, DeviceOps::zoneParamCells(map, params, zones));
    }
    if (!differences.isEmpty())
        ShowError(DeviceOps::readBackReport(differences, map));
}

QMenu* TServiceMenu::contextMenu(QPlainTextEdit* memo)
{
    QMenu* menu = memo->createStandardContextMenu();
    menu->addSeparator();
    if (memo == m_window.SFJournal->MmJournal)
        menu->addActions({NSaveJournalText, NSaveJournalCsv, NPrintJournal});
    else
        menu->addActions({NSaveImage, NCompareImage});
    return menu;
}
