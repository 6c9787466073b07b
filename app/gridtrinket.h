#pragma once

#include <QObject>
#include <QTableView>

#include <array>

class RecordStore;
class TGridTrinket;
class TRegisterModel;
class TRegisterSearchModel;

// One grid column under its stored name (GridTrinketADDRESS, ...); its Width is what the
// settings store keeps, hidden columns included.
class TGridColumn final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)

public:
    TGridColumn(TGridTrinket* grid, int column);
    int Width() const;
    void SetWidth(int width);
    int column() const { return m_column; }

private:
    TGridTrinket* m_grid;
    int m_column;
};

// The register grid: sorted display, whole-row selection, no in-place editing; the selected
// row is the register's current record and follows it.
class TGridTrinket final : public QTableView
{
    Q_OBJECT

public:
    TGridTrinket(RecordStore& store, TRegisterModel* model, QWidget* parent);

    TRegisterSearchModel* searchModel() const { return m_shown; }
    TGridColumn* Column(int column) const { return m_columns[size_t(column)]; }
    int columnWidthOf(int column) const;
    void setColumnWidthOf(int column, int width);
    // The register row shown at a display row, and back; -1 when none.
    int sourceRow(int displayRow) const;
    int displayRow(int sourceRow) const;
    // Shows only the records that match (empty: all). The selected row stays the register's
    // current record: when the search hides that record, the first shown row becomes current, and
    // with no row shown the register is put at its end, so no command acts on a hidden record.
    void setSearchText(const QString& text);

signals:
    void rowDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumns();
    void onSectionResized(int column, int oldSize, int newSize);
    void onCurrentRowChanged(const QModelIndex& current);
    void followStore(int row);
    void deleteFocusedRecord();
    void keepCurrentShown(bool searchChanged);
    void scheduleKeepCurrentShown();

    RecordStore& m_store;
    TRegisterModel* m_model;
    TRegisterSearchModel* m_shown; // what the grid shows: the sorted rows that match the search
    std::array<TGridColumn*, 7> m_columns;
    std::array<int, 7> m_widths;
    bool m_fitting = false;
    bool m_following = false;
    int m_hiding = 0; // display rows are being removed
    bool m_parked = false; // the search put the register at its end
    bool m_keepScheduled = false;
};
