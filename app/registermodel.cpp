#include "registermodel.h"

#include "recordstore.h"
#include "text1251.h"

#include <QFont>

TRegisterModel::TRegisterModel(RecordStore& store, QObject* parent)
    : QAbstractTableModel(parent)
    , m_store(store)
{
    // A load reaches the model as one reset: the store batches it.
    connect(&store, &RecordStore::aboutToReset, this, &TRegisterModel::beginResetModel);
    connect(&store, &RecordStore::resetDone, this, [this] {
        rebuild();
        endResetModel();
    });
    connect(&store, &RecordStore::rowInserted, this, &TRegisterModel::onRowInserted);
    connect(&store, &RecordStore::rowAboutToBeRemoved, this, &TRegisterModel::onRowAboutToBeRemoved);
    connect(&store, &RecordStore::rowRemoved, this, &TRegisterModel::onRowRemoved);
    connect(&store, &RecordStore::rowChanged, this, &TRegisterModel::onRowChanged);
    rebuild();
}

int TRegisterModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TRegisterModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FieldCount;
}

QVariant TRegisterModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row& row = m_rows[size_t(index.row())];
    const int column = index.column();
    const bool integer = column < 3;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (row.null[column])
            return QString();
        return integer ? QString::number(row.ints[column]) : row.texts[column - 3];
    case Qt::TextAlignmentRole:
        return int(integer ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TRegisterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= FieldCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return header(section);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

Qt::ItemFlags TRegisterModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

bool TRegisterModel::lessThan(int column, int leftRow, int rightRow) const
{
    const Row& a = m_rows[size_t(leftRow)];
    const Row& b = m_rows[size_t(rightRow)];
    // Empty fields sort first.
    if (a.null[column] != b.null[column])
        return a.null[column];
    if (column < 3)
        return a.ints[column] < b.ints[column];
    return a.texts[column - 3].compare(b.texts[column - 3], Qt::CaseInsensitive) < 0;
}

bool TRegisterModel::matches(int row, QStringView foldedText) const
{
    return m_rows[size_t(row)].folded.contains(foldedText);
}

QString TRegisterModel::columnName(int column)
{
    return QStringLiteral("GridTrinket") + QLatin1String(fieldName(Field(column)));
}

QString TRegisterModel::header(int column)
{
    static const QString headers[FieldCount] = {QStringLiteral("N"),
                                                QString(),
                                                QString(),
                                                QStringLiteral("Брелок 2"),
                                                QStringLiteral("Брелок 3"),
                                                QStringLiteral("Пульт. N"),
                                                QStringLiteral("Адрес")};
    return headers[column];
}

TRegisterModel::Row TRegisterModel::decode(const Record& record)
{
    Row row;
    for (int f = 0; f < FieldCount; ++f) {
        const Field field = Field(f);
        row.null[f] = record.isNull(field);
        if (f < 3)
            row.ints[f] = record.asInteger(field);
        else
            row.texts[f - 3] = row.null[f] ? QString() : Text1251::toUnicode(record.asText(field));
    }
    // Folded once here, so a keystroke's search is a plain substring scan.
    const QChar separator(0xFFFF);
    row.folded = row.texts[int(Field::PULT_NUM) - 3].toCaseFolded() + separator
        + row.texts[int(Field::ADDRESS) - 3].toCaseFolded() + separator + row.texts[int(Field::CODE) - 3].toCaseFolded()
        + separator + row.texts[int(Field::CODE_D) - 3].toCaseFolded();
    row.folded.squeeze();
    return row;
}

void TRegisterModel::rebuild()
{
    m_rows.clear();
    if (!m_store.isActive())
        return;
    m_rows.reserve(size_t(m_store.count()));
    for (const Record& record : m_store.rows())
        m_rows.push_back(decode(record));
}

void TRegisterModel::onRowInserted(int row)
{
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, decode(m_store.at(row)));
    endInsertRows();
}

void TRegisterModel::onRowAboutToBeRemoved(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    m_removing = true;
}

void TRegisterModel::onRowRemoved(int)
{
    if (!m_removing)
        return;
    m_removing = false;
    endRemoveRows();
}

void TRegisterModel::onRowChanged(int row)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    m_rows[size_t(row)] = decode(m_store.at(row));
    emit dataChanged(index(row, 0), index(row, FieldCount - 1));
}

TRegisterSortModel::TRegisterSortModel(TRegisterModel* source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(source);
    setDynamicSortFilter(true);
}

bool TRegisterSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return m_source->lessThan(left.column(), left.row(), right.row());
}

TRegisterSearchModel::TRegisterSearchModel(TRegisterSortModel* sorted, TRegisterModel* model, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_sorted(sorted)
    , m_model(model)
{
    setSourceModel(sorted);
    setDynamicSortFilter(true);
}

void TRegisterSearchModel::setSearchText(const QString& text)
{
    if (text == m_search)
        return;
    m_search = text;
    m_folded = text.toCaseFolded();
    // One remap of all rows: on a large register far cheaper than the proxy's row-by-row
    // insertion of the rows a shorter text brings back.
    invalidate();
}

void TRegisterSearchModel::sort(int column, Qt::SortOrder order)
{
    m_sorted->sort(column, order);
}

bool TRegisterSearchModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_folded.isEmpty())
        return true;
    const int row = m_sorted->mapToSource(m_sorted->index(sourceRow, 0)).row();
    return row >= 0 && m_model->matches(row, m_folded);
}
