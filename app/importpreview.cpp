#include "app/importpreview.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// A read-only view of some of the plan's rows; the last column is the refusal when asked for.
class PlanRows final : public QAbstractTableModel
{
public:
    PlanRows(std::vector<RegisterCsv::ImportRow> rows, bool refused, QObject* parent)
        : QAbstractTableModel(parent)
        , m_rows(std::move(rows))
        , m_refused(refused)
    {
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : (m_refused ? 4 : 5);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
            return {};
        const RegisterCsv::ImportRow& row = m_rows[size_t(index.row())];
        const QString values[]
            = {QString::number(row.line), row.number, row.address, m_refused ? row.refusal : row.code, row.codeD};
        return values[index.column()];
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        const QString headers[]
            = {QStringLiteral("Строка"), QStringLiteral("Пульт. N"), QStringLiteral("Адрес"),
               m_refused ? QStringLiteral("Причина") : QStringLiteral("Брелок 2"), QStringLiteral("Брелок 3")};
        return headers[section];
    }

private:
    std::vector<RegisterCsv::ImportRow> m_rows;
    bool m_refused;
};

QTableView* rowsView(QWidget* parent, const QString& name)
{
    auto* view = new QTableView(parent);
    view->setObjectName(name);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

} // namespace

TSFImportPreview::TSFImportPreview(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFImportPreview"), QStringLiteral("Импорт из CSV"), QSize(600, 400),
                 Frame::Resizable)
{
    LbAccepted = new QLabel(this);
    LbAccepted->setObjectName(QStringLiteral("LbAccepted"));
    GridAccepted = rowsView(this, QStringLiteral("GridAccepted"));
    LbRefused = new QLabel(this);
    LbRefused->setObjectName(QStringLiteral("LbRefused"));
    GridRefused = rowsView(this, QStringLiteral("GridRefused"));
    BtImportOk = new QPushButton(QStringLiteral("Добавить"), this);
    BtImportOk->setObjectName(QStringLiteral("BtImportOk"));
    BtImportOk->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogOkButton));
    BtImportOk->setAutoDefault(true);
    BtImportCancel = new QPushButton(QStringLiteral("Отмена"), this);
    BtImportCancel->setObjectName(QStringLiteral("BtImportCancel"));
    BtImportCancel->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogCancelButton));
    BtImportCancel->setAutoDefault(true);
    setDefaultButton(BtImportOk);
    bindButton(BtImportOk, mrOk);
    setCancelButton(BtImportCancel);
    bindButton(BtImportCancel, mrCancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtImportCancel);
    buttons->addWidget(BtImportOk);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LbAccepted);
    layout->addWidget(GridAccepted, 3);
    layout->addWidget(LbRefused);
    layout->addWidget(GridRefused, 2);
    layout->addLayout(buttons);
}

void TSFImportPreview::setPlan(const RegisterCsv::ImportPlan& plan)
{
    std::vector<RegisterCsv::ImportRow> accepted;
    std::vector<RegisterCsv::ImportRow> refused;
    for (const RegisterCsv::ImportRow& row : plan.rows)
        (row.refusal.isEmpty() ? accepted : refused).push_back(row);
    LbAccepted->setText(QStringLiteral("Будут добавлены: %1").arg(accepted.size()));
    LbRefused->setText(QStringLiteral("Отклонены: %1").arg(refused.size()));
    BtImportOk->setEnabled(!accepted.empty());
    for (QTableView* view : {GridAccepted, GridRefused}) {
        if (QAbstractItemModel* old = view->model())
            old->deleteLater();
    }
    GridAccepted->setModel(new PlanRows(std::move(accepted), false, this));
    GridRefused->setModel(new PlanRows(std::move(refused), true, this));
}
