#include "registerexchange.h"

#include "datafile.h"
#include "filedialog.h"
#include "importpreview.h"
#include "messagebox.h"
#include "mntavro.h"
#include "recordstore.h"
#include "registercsv.h"
#include "waitcursor.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>

#include <memory>

namespace {

QString csvFilter()
{
    return QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)");
}

} // namespace

TRegisterExchange::TRegisterExchange(TFmTavro* window, RecordStore& store, DataFile& data)
    : QObject(window)
    , m_window(window)
    , m_store(store)
    , m_data(data)
{
    setObjectName(QStringLiteral("RegisterExchange"));
    NExportCsv = window->NService->addAction(QStringLiteral("Экспорт реестра в CSV..."));
    NExportCsv->setObjectName(QStringLiteral("NExportCsv"));
    NImportCsv = window->NService->addAction(QStringLiteral("Импорт из CSV..."));
    NImportCsv->setObjectName(QStringLiteral("NImportCsv"));
    connect(NExportCsv, &QAction::triggered, this, Guarded(this, &TRegisterExchange::NExportCsvClick));
    connect(NImportCsv, &QAction::triggered, this, Guarded(this, &TRegisterExchange::NImportCsvClick));
    window->BtAdd->installEventFilter(this);
}

bool TRegisterExchange::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window->BtAdd && event->type() == QEvent::EnabledChange)
        NImportCsv->setEnabled(m_window->BtAdd->isEnabled());
    return QObject::eventFilter(watched, event);
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
        written = RegisterCsv::write(m_store, file) && file.commit();
    }
    if (!written)
        ShowError(QStringLiteral("Ошибка записи файла %1: %2").arg(name, file.errorString()));
}

void TRegisterExchange::NImportCsvClick()
{
    RecordStore& store = m_store;
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
    const std::vector<Record> before = store.rows();
    RegisterCsv::apply(store, m_data.MaxRecordId, plan);
    const Record last = store.at(store.count() - 1);
    try {
        m_window->SaveData();
    } catch (const std::exception&) {
        // The writer's own box, then the register goes back to what the file holds: rows shown
        // but not saved would be lost at the end unnoticed, or saved by the next change.
        ShowUncaughtException();
        if (!m_data.reloadHeld()) {
            RecordStore::Batch batch(store);
            store.deactivate();
            store.activate();
            for (const Record& r : before)
                store.append(r);
        }
        const qint32 lastId = last.asInteger(Field::ID_RECORD);
        if (!store.locate(Field::ID_RECORD, lastId) || store.asText(Field::PULT_NUM) != last.asText(Field::PULT_NUM))
            ShowError(QStringLiteral("Импорт не сохранён: реестр возвращён к файлу данных"));
        store.first();
    }
}
