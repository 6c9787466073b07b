#pragma once

#include "register/record.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringView>

#include <functional>
#include <vector>

class RecordStore;

// The register as a table for the grid, in the grid's display order: an index vector over the
// register's rows, sorted by a header's column (ascending or descending, empty fields first,
// texts ignoring case, ties in the order they had), which the register's own order never
// follows. Texts are converted from the register's bytes when shown; a sort computes each
// row's key once. Changed and added rows go after the rows that sort equal to them.
class TRegisterModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    TRegisterModel(RecordStore& store, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // The register row shown at a display row, and back; -1 when none.
    int storeRow(int displayRow) const;
    int displayRow(int storeRow) const;

    bool lessThan(int column, int leftRow, int rightRow) const; // register rows
    // Whether the console number, the address or a trinket code as shown contains the text,
    // ignoring case (the text case-folded).
    bool matches(int storeRow, QStringView foldedText) const;
    static Field fieldOf(int column) { return Field(column); }
    static QString columnName(int column); // "GridTrinketID_RECORD", ...
    static QString header(int column); // "N", "", "", "Брелок 2", ...

private:
    void rebuild();
    void sortRows(std::vector<int>& rows) const;
    void rebuildPositions();
    void reorder(const std::function<void()>& change);
    int insertionPoint(int storeRow) const;
    void onRowInserted(int row);
    void onRowAboutToBeRemoved(int row);
    void onRowRemoved(int row);
    void onRowChanged(int row);

    RecordStore& m_store;
    std::vector<int> m_order; // display row -> register row
    std::vector<int> m_position; // register row -> display row
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_removing = -1; // the display row being removed
};

// The grid's search over the sorted rows, kept apart from the sorting so that a keystroke
// filters the rows in the order they already have instead of sorting them again.
class TRegisterSearchModel final : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    TRegisterSearchModel(TRegisterModel* model, QObject* parent);

    // Shows only the records that match; an empty text shows them all.
    void setSearchText(const QString& text);
    QString searchText() const { return m_search; }
    // Sorting belongs to the layer below.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    TRegisterModel* m_model;
    QString m_search;
    QString m_folded;
};
