#include "app/registermodel.h"

#include "register/recordstore.h"
#include "register/text1251.h"

#include <QFont>

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace {

// Case-insensitive order and search on the register's bytes without converting them: each byte
// stands for the rank of its case-folded character among all folded characters of the code
// page, so comparing ranks compares what QString's case-insensitive comparison compares, and a
// case-folded text matches where its ranks do. Rank 0 is the search's field separator U+FFFF.
struct Folding
{
    std::array<unsigned char, 256> rank {};
    std::array<unsigned char, 0x10000> rankOfUnit {}; // 0: no byte folds to it
    bool exact = true; // every byte folds to one UTF-16 unit, alone and inside a text alike

    Folding()
    {
        std::array<char16_t, 256> folded {};
        std::vector<char16_t> units;
        for (int b = 1; b < 256; ++b) {
            const QChar c = Text1251::toUnicodeChar(static_cast<unsigned char>(b));
            const QString f = QString(c).toCaseFolded();
            if (f.size() != 1 || f.at(0) != c.toCaseFolded())
                exact = false;
            folded[size_t(b)] = c.toCaseFolded().unicode();
            units.push_back(folded[size_t(b)]);
        }
        std::sort(units.begin(), units.end());
        units.erase(std::unique(units.begin(), units.end()), units.end());
        for (int b = 1; b < 256; ++b)
            rank[size_t(b)] = static_cast<unsigned char>(
                1 + (std::lower_bound(units.begin(), units.end(), folded[size_t(b)]) - units.begin()));
        for (int b = 1; b < 256; ++b)
            rankOfUnit[folded[size_t(b)]] = rank[size_t(b)];
    }
};

const Folding& folding()
{
    static const Folding f;
    return f;
}

QString shown(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        d[i] = Text1251::toUnicodeChar(static_cast<unsigned char>(bytes[i]));
    return out;
}

// Negative, zero or positive as QString's case-insensitive comparison of the texts shown.
int compareFolded(QByteArrayView a, QByteArrayView b)
{
    const Folding& fold = folding();
    if (!fold.exact)
        return shown(a).compare(shown(b), Qt::CaseInsensitive);
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int d = fold.rank[static_cast<unsigned char>(a[i])] - fold.rank[static_cast<unsigned char>(b[i])];
        if (d != 0)
            return d;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace

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
    return parent.isValid() ? 0 : int(m_order.size());
}

int TRegisterModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FieldCount;
}

QVariant TRegisterModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_order.size()))
        return {};
    const int row = m_order[size_t(index.row())];
    const int column = index.column();
    const bool integer = column < 3;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (m_store.isNullAt(row, Field(column)))
            return QString();
        return integer ? QString::number(m_store.integerAt(row, Field(column)))
                       : shown(m_store.textAt(row, Field(column)));
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
    const Field f = Field(column);
    const bool leftNull = m_store.isNullAt(leftRow, f);
    // Empty fields sort first.
    if (leftNull != m_store.isNullAt(rightRow, f))
        return leftNull;
    if (isIntegerField(f))
        return m_store.integerAt(leftRow, f) < m_store.integerAt(rightRow, f);
    return compareFolded(m_store.textAt(leftRow, f), m_store.textAt(rightRow, f)) < 0;
}

bool TRegisterModel::matches(int storeRow, QStringView foldedText) const
{
    const Field searched[] = {Field::PULT_NUM, Field::ADDRESS, Field::CODE, Field::CODE_D};
    const Folding& fold = folding();
    if (!fold.exact) {
        // The searched texts case-folded and joined by U+FFFF, which no register text holds.
        QString joined;
        for (const Field f : searched) {
            if (!joined.isEmpty() || f != Field::PULT_NUM)
                joined += QChar(0xFFFF);
            joined += shown(m_store.textAt(storeRow, f)).toCaseFolded();
        }
        return joined.contains(foldedText);
    }
    char needle[256];
    if (foldedText.size() > qsizetype(sizeof needle))
        return false; // longer than every record's searched texts together
    for (qsizetype i = 0; i < foldedText.size(); ++i) {
        const char16_t u = foldedText.at(i).unicode();
        const unsigned char r = u == 0xFFFF ? 0 : fold.rankOfUnit[u];
        if (r == 0 && u != 0xFFFF)
            return false; // no register text holds that character
        needle[i] = char(r);
    }
    char haystack[32 * 3 + 80 + 3];
    qsizetype n = 0;
    for (const Field f : searched) {
        if (f != Field::PULT_NUM)
            haystack[n++] = 0;
        for (const char c : m_store.textAt(storeRow, f))
            haystack[n++] = char(fold.rank[static_cast<unsigned char>(c)]);
    }
    return std::string_view(haystack, size_t(n)).find(std::string_view(needle, size_t(foldedText.size())))
        != std::string_view::npos;
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

int TRegisterModel::storeRow(int displayRow) const
{
    return displayRow >= 0 && displayRow < int(m_order.size()) ? m_order[size_t(displayRow)] : -1;
}

int TRegisterModel::displayRow(int storeRow) const
{
    return storeRow >= 0 && storeRow < int(m_position.size()) ? m_position[size_t(storeRow)] : -1;
}

void TRegisterModel::sort(int column, Qt::SortOrder order)
{
    if (column == m_sortColumn && order == m_sortOrder)
        return;
    m_sortColumn = column >= 0 && column < FieldCount ? column : -1;
    m_sortOrder = order;
    reorder([this] { sortRows(m_order); });
}

// Changes the display order, keeping every persistent index on the record it stood on.
void TRegisterModel::reorder(const std::function<void()>& change)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> rows;
    rows.reserve(before.size());
    for (const QModelIndex& index : before)
        rows.push_back(storeRow(index.row()));
    change();
    rebuildPositions();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(index(displayRow(rows[size_t(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// A stable sort from the order the rows have, as a header click re-sorts what is shown.
void TRegisterModel::sortRows(std::vector<int>& rows) const
{
    if (m_sortColumn < 0) {
        std::sort(rows.begin(), rows.end());
        return;
    }
    const Field f = Field(m_sortColumn);
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    // Each row's key once: the integer, or a text's first seven ranks (the rest compared only
    // between rows whose first seven agree); 0 stands for an empty field, below every value.
    struct Key
    {
        quint64 value;
        int row;
    };
    std::vector<Key> keys;
    keys.reserve(rows.size());
    const bool integer = isIntegerField(f);
    const Folding& fold = folding();
    for (const int row : rows) {
        quint64 value = 0;
        if (m_store.isNullAt(row, f)) {
            value = 0;
        } else if (integer) {
            value = quint64(qint64(m_store.integerAt(row, f)) - std::numeric_limits<qint32>::min() + 1);
        } else if (fold.exact) {
            const QByteArrayView t = m_store.textAt(row, f);
            value = quint64(1) << 56;
            for (int i = 0; i < 7 && i < t.size(); ++i)
                value |= quint64(fold.rank[static_cast<unsigned char>(t[i])]) << (48 - 8 * i);
        } else {
            value = 1;
        }
        keys.push_back({value, row});
    }
    const auto less = [this, f, integer](const Key& a, const Key& b) {
        if (a.value != b.value)
            return a.value < b.value;
        if (integer || a.value == 0)
            return false;
        return compareFolded(m_store.textAt(a.row, f), m_store.textAt(b.row, f)) < 0;
    };
    if (ascending)
        std::stable_sort(keys.begin(), keys.end(), less);
    else
        std::stable_sort(keys.begin(), keys.end(), [&less](const Key& a, const Key& b) { return less(b, a); });
    for (size_t i = 0; i < keys.size(); ++i)
        rows[i] = keys[i].row;
}

void TRegisterModel::rebuildPositions()
{
    m_position.assign(m_order.size(), -1);
    for (size_t i = 0; i < m_order.size(); ++i)
        m_position[size_t(m_order[i])] = int(i);
}

// After the rows that sort equal to it, as a sorted view places a row it is told of.
int TRegisterModel::insertionPoint(int storeRow) const
{
    int low = 0;
    int high = int(m_order.size()) - 1;
    while (low <= high) {
        const int middle = (low + high) / 2;
        const int probe = m_order[size_t(middle)];
        bool before;
        if (m_sortColumn < 0)
            before = storeRow < probe;
        else if (m_sortOrder == Qt::AscendingOrder)
            before = lessThan(m_sortColumn, storeRow, probe);
        else
            before = lessThan(m_sortColumn, probe, storeRow);
        if (before)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return low;
}

void TRegisterModel::rebuild()
{
    m_order.clear();
    if (m_store.isActive()) {
        m_order.resize(size_t(m_store.count()));
        for (size_t i = 0; i < m_order.size(); ++i)
            m_order[i] = int(i);
        sortRows(m_order);
    }
    std::vector<int>(m_order).swap(m_order);
    rebuildPositions();
}

void TRegisterModel::onRowInserted(int row)
{
    for (int& r : m_order) {
        if (r >= row)
            ++r;
    }
    const int at = insertionPoint(row);
    beginInsertRows(QModelIndex(), at, at);
    m_order.insert(m_order.begin() + at, row);
    rebuildPositions();
    endInsertRows();
}

void TRegisterModel::onRowAboutToBeRemoved(int row)
{
    m_removing = displayRow(row);
    if (m_removing >= 0)
        beginRemoveRows(QModelIndex(), m_removing, m_removing);
}

void TRegisterModel::onRowRemoved(int row)
{
    if (m_removing < 0)
        return;
    m_order.erase(m_order.begin() + m_removing);
    for (int& r : m_order) {
        if (r > row)
            --r;
    }
    rebuildPositions();
    m_removing = -1;
    endRemoveRows();
}

void TRegisterModel::onRowChanged(int row)
{
    int at = displayRow(row);
    if (at < 0)
        return;
    if (m_sortColumn >= 0) {
        // Placed again after the rows that now sort equal to it.
        reorder([&] {
            m_order.erase(m_order.begin() + at);
            at = insertionPoint(row);
            m_order.insert(m_order.begin() + at, row);
        });
    }
    emit dataChanged(index(at, 0), index(at, FieldCount - 1));
}

TRegisterSearchModel::TRegisterSearchModel(TRegisterModel* model, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_model(model)
{
    setSourceModel(model);
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
    m_model->sort(column, order);
}

bool TRegisterSearchModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_folded.isEmpty())
        return true;
    const int row = m_model->storeRow(sourceRow);
    return row >= 0 && m_model->matches(row, m_folded);
}
