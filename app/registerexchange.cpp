#include "app/registerexchange.h"

#include "app/filedialog.h"
#include "app/importpreview.h"
#include "app/messagebox.h"
#include "app/waitcursor.h"
#include "core/installercore.h"
#include "register/registercsv.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSaveFile>

#include <memory>

namespace {

QString csvFilter()
{
    return QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)");
}

} // namespace

TRegisterExchange::TRegisterExchange(InstallerCore& core, QMenu* menu, QWidget* mainWindow)
    : QObject(mainWindow)
    , m_core(core)
    , m_window(mainWindow)
{
    setObjectName(QStringLiteral("RegisterExchange"));
    NExportCsv = menu->addAction(QStringLiteral("Экспорт реестра в CSV..."));
    NExportCsv->setObjectName(QStringLiteral("NExportCsv"));
    NImportCsv = menu->addAction(QStringLiteral("Импорт из CSV..."));
    NImportCsv->setObjectName(QStringLiteral("NImportCsv"));
    connect(NExportCsv, &QAction::triggered, this, Guarded(this, &TRegisterExchange::NExportCsvClick));
    connect(NImportCsv, &QAction::triggered, this, Guarded(this, &TRegisterExchange::NImportCsvClick));
    connect(&core, &InstallerCore::busyChanged, NImportCsv, [this](bool busy) { NImportCsv->setEnabled(!busy); });
}

void TRegisterExchange::NExportCsvClick()
{
    const QString path = FileDialog::saveFileName(m_window, QStringLiteral("Экспорт реестра в CSV"),
                                                  QStringLiteral("Trinket.csv"), csvFilter());
    if (path.isEmpty())
        return;
    const QString name = QDir::toNativeSeparators(path);
    // The old file stays as it was unless the whole new one has been written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        ShowError(QStringLiteral("Не могу создать файл %1: %2").arg(name, file.errorString()));
        return;
    }
    bool written = false;
    {
        TWaitCursor wait;
        written = RegisterCsv::write(m_core.store(), file) && file.commit();
    }
    if (!written)
        ShowError(QStringLiteral("Ошибка записи файла %1: %2").arg(name, file.errorString()));
}

void TRegisterExchange::NImportCsvClick()
{
    RecordStore& store = m_core.store();
    if (!store.isActive())
        store.first(); // the store's own error names the closed register
    const QString path = FileDialog::openFileName(m_window, QStringLiteral("Импорт из CSV"), QString(), csvFilter());
    if (path.isEmpty())
        return;
    RegisterCsv::ImportPlan plan;
    {
        TWaitCursor wait;
        plan = RegisterCsv::plan(path, store);
    }
    if (!plan.error.isEmpty()) {
        ShowError(plan.error);
        return;
    }
    auto preview = std::make_unique<TSFImportPreview>(m_window);
    preview->setPlan(plan);
    if (preview->ShowModal() != TAuxWindow::mrOk || plan.accepted() == 0)
        return;
    const InstallerCore::ImportResult result = m_core.importRecords(plan);
    // The writer's own box; the register went back to what the file holds.
    if (!result.saveFailure.isEmpty())
        ShowUncaughtError(result.saveFailure);
    if (result.lost)
        ShowError(QStringLiteral("Импорт не сохранён: реестр возвращён к файлу данных"));
}
