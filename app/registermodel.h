#pragma once

#include "record.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <vector>

class RecordStore;

// The register as a table for the grid, in the register's row order. Texts are decoded once
// per row, so painting and sorting large registers stay cheap.
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

    bool lessThan(int column, int leftRow, int rightRow) const;
    // Whether the console number, the address or a trinket code as shown contains the text,
    // ignoring case.
    bool matches(int row, QStringView foldedText) const;
    static Field fieldOf(int column) { return Field(column); }
    static QString columnName(int column); // "GridTrinketID_RECORD", ...
    static QString header(int column); // "N", "", "", "Брелок 2", ...

private:
    struct Row
    {
        qint32 ints[3];
        bool null[FieldCount];
        QString texts[4];
        // The searched texts case-folded and joined by U+FFFF, which no register text holds.
        QString folded;
    };
    static Row decode(const Record& record);
    void rebuild();
    void onRowInserted(int row);
    void onRowAboutToBeRemoved(int row);
    void onRowRemoved(int row);
    void onRowChanged(int row);

    RecordStore& m_store;
    std::vector<Row> m_rows;
    bool m_removing = false;
};

// The grid's display order; the register's own order stays as it is.
class TRegisterSortModel final : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    TRegisterSortModel(TRegisterModel* source, QObject* parent);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    TRegisterModel* m_source;
};

// The grid's search over the sorted rows, kept apart from the sorting so that a keystroke
// filters the rows in the order they already have instead of sorting them again.
class TRegisterSearchModel final : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    TRegisterSearchModel(TRegisterSortModel* sorted, TRegisterModel* model, QObject* parent);

    // Shows only the records that match; an empty text shows them all.
    void setSearchText(const QString& text);
    QString searchText() const { return m_search; }
    // Sorting belongs to the layer below.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    TRegisterSortModel* m_sorted;
    TRegisterModel* m_model;
    QString m_search;
    QString m_folded;
};
