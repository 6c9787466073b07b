#include "app/gridtrinket.h"

#include "app/messagebox.h"
#include "app/registermodel.h"
#include "register/recordstore.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace {
// The columns' design widths; the visible ones are scaled to fill the grid in this proportion.
constexpr std::array<int, 7> DesignWidths = {32, 179, 136, 87, 87, 71, 288};
constexpr int MinimumWidth = 8;

bool isHiddenField(int column)
{
    return column == int(Field::ID_TRINK) || column == int(Field::ID_TRINK_D);
}
} // namespace

TGridColumn::TGridColumn(TGridTrinket* grid, int column)
    : QObject(grid)
    , m_grid(grid)
    , m_column(column)
{
    setObjectName(TRegisterModel::columnName(column));
}

int TGridColumn::Width() const
{
    return m_grid->columnWidthOf(m_column);
}

void TGridColumn::SetWidth(int width)
{
    m_grid->setColumnWidthOf(m_column, width);
}

TGridTrinket::TGridTrinket(RecordStore& store, TRegisterModel* model, QWidget* parent)
    : QTableView(parent)
    , m_store(store)
    , m_model(model)
    , m_shown(new TRegisterSearchModel(model, this))
    , m_widths(DesignWidths)
{
    setObjectName(QStringLiteral("GridTrinket"));
    setAccessibleName(QStringLiteral("Места установки QM407"));
    // A row leaving the display moves the view's current index to a neighbour; the register's
    // current record is settled afterwards instead, never in the middle of a register change.
    // Connected before the view's own handlers, so the count is up when they run.
    connect(m_shown, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { ++m_hiding; });
    setModel(m_shown);
    for (int c = 0; c < 7; ++c)
        m_columns[size_t(c)] = new TGridColumn(this, c);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setCornerButtonEnabled(false);

    verticalHeader()->hide();
    // Fixed row heights keep a large register cheap to lay out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);

    QHeaderView* header = horizontalHeader();
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(MinimumWidth);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < 7; ++c)
        setColumnHidden(c, isHiddenField(c));
    setSortingEnabled(true);
    sortByColumn(int(Field::ID_RECORD), Qt::AscendingOrder);

    connect(header, &QHeaderView::sectionResized, this, &TGridTrinket::onSectionResized);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TGridTrinket::onCurrentRowChanged);
    // A click on the row that is already shown as current still makes it current again:
    // after a load the register sits at its end and only a move clears that.
    connect(this, &QAbstractItemView::pressed, this, &TGridTrinket::onCurrentRowChanged);
    connect(&store, &RecordStore::currentChanged, this, &TGridTrinket::followStore);
    connect(m_shown, &QAbstractItemModel::modelReset, this, [this] { followStore(m_store.currentRow()); });
    connect(m_shown, &QAbstractItemModel::rowsRemoved, this, [this] { --m_hiding; });
    for (auto signal :
         {&RecordStore::currentChanged, &RecordStore::rowChanged, &RecordStore::rowInserted, &RecordStore::rowRemoved})
        connect(&store, signal, this, &TGridTrinket::scheduleKeepCurrentShown);
    connect(&store, &RecordStore::resetDone, this, &TGridTrinket::scheduleKeepCurrentShown);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit rowDoubleClicked();
    });
    fitColumns();
}

int TGridTrinket::columnWidthOf(int column) const
{
    if (isHiddenField(column))
        return m_widths[size_t(column)];
    return horizontalHeader()->sectionSize(column);
}

void TGridTrinket::setColumnWidthOf(int column, int width)
{
    if (column < 0 || column >= 7)
        return;
    m_widths[size_t(column)] = qMax(width, isHiddenField(column) ? 0 : MinimumWidth);
    fitColumns();
}

int TGridTrinket::sourceRow(int displayRow) const
{
    const QModelIndex index = m_shown->mapToSource(m_shown->index(displayRow, 0));
    return index.isValid() ? m_model->storeRow(index.row()) : -1;
}

int TGridTrinket::displayRow(int sourceRow) const
{
    const int sorted = m_model->displayRow(sourceRow);
    const QModelIndex index = sorted < 0 ? QModelIndex() : m_shown->mapFromSource(m_model->index(sorted, 0));
    return index.isValid() ? index.row() : -1;
}

void TGridTrinket::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        event->accept();
        RunGuarded([this] { deleteFocusedRecord(); });
        return;
    }
    QTableView::keyPressEvent(event);
}

void TGridTrinket::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    fitColumns();
}

void TGridTrinket::fitColumns()
{
    const int available = viewport()->width();
    int total = 0;
    int lastVisible = -1;
    for (int c = 0; c < 7; ++c) {
        if (!isHiddenField(c)) {
            total += m_widths[size_t(c)];
            lastVisible = c;
        }
    }
    if (total <= 0 || available <= 0)
        return;
    m_fitting = true;
    int used = 0;
    for (int c = 0; c < 7; ++c) {
        if (isHiddenField(c))
            continue;
        const int width = c == lastVisible ? available - used : int(qint64(m_widths[size_t(c)]) * available / total);
        horizontalHeader()->resizeSection(c, qMax(width, MinimumWidth));
        used += width;
    }
    m_fitting = false;
}

void TGridTrinket::onSectionResized(int column, int oldSize, int newSize)
{
    if (m_fitting || isHiddenField(column))
        return;
    // Dragging a border gives to or takes from the next visible column, so the grid stays full.
    m_fitting = true;
    for (int next = column + 1; next < 7; ++next) {
        if (isHiddenField(next))
            continue;
        const int nextSize = horizontalHeader()->sectionSize(next) - (newSize - oldSize);
        horizontalHeader()->resizeSection(next, qMax(nextSize, MinimumWidth));
        break;
    }
    m_fitting = false;
    for (int c = 0; c < 7; ++c) {
        if (!isHiddenField(c))
            m_widths[size_t(c)] = horizontalHeader()->sectionSize(c);
    }
    fitColumns();
}

void TGridTrinket::onCurrentRowChanged(const QModelIndex& current)
{
    if (m_following || m_hiding > 0 || !current.isValid())
        return;
    const int row = sourceRow(current.row());
    if (row >= 0 && m_store.isActive())
        RunGuarded([this, row] { m_store.setCurrentRow(row); });
}

void TGridTrinket::followStore(int row)
{
    m_following = true;
    const int shown = row >= 0 && row < m_model->rowCount() ? displayRow(row) : -1;
    if (shown >= 0) {
        const QModelIndex index = m_shown->index(shown, qMax(currentIndex().column(), 0));
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    } else {
        selectionModel()->clearSelection();
    }
    m_following = false;
}

void TGridTrinket::deleteFocusedRecord()
{
    const QModelIndex focused = currentIndex();
    if (!focused.isValid())
        return;
    const int row = sourceRow(focused.row());
    if (row < 0)
        return;
    if (ShowMessageBox(QStringLiteral("Delete record?"), QStringLiteral("Confirm"), MessageBoxFlags::GridConfirm)
        != ButtonOk)
        return;
    // The grid's own deletion: no refusal and no save; the next rewrite carries it to the file.
    m_store.setCurrentRow(row);
    m_store.remove();
}

void TGridTrinket::setSearchText(const QString& text)
{
    m_following = true;
    m_shown->setSearchText(text);
    m_following = false;
    RunGuarded([this] { keepCurrentShown(true); });
}

void TGridTrinket::scheduleKeepCurrentShown()
{
    if (m_keepScheduled || (m_shown->searchText().isEmpty() && !m_parked))
        return;
    // After the command that changed the register has finished with its current record.
    m_keepScheduled = true;
    QMetaObject::invokeMethod(
        this, [this] { RunGuarded([this] { keepCurrentShown(false); }); }, Qt::QueuedConnection);
}

void TGridTrinket::keepCurrentShown(bool searchChanged)
{
    m_keepScheduled = false;
    if (!m_store.isActive() || m_store.isEditing())
        return;
    // Anything that moved the register since it was put at its end clears the end flag.
    if (m_parked && !m_store.eof())
        m_parked = false;
    if (!searchChanged && m_shown->searchText().isEmpty() && !m_parked)
        return;
    const int current = m_store.currentRow();
    const bool shown = current >= 0 && displayRow(current) >= 0;
    if (!shown || m_parked) {
        if (m_shown->rowCount() > 0) {
            m_parked = false;
            m_store.setCurrentRow(sourceRow(0));
        } else if (m_store.count() > 0) {
            m_parked = true;
            m_store.last();
        }
    }
    followStore(m_store.currentRow());
}
