#pragma once

#include <QObject>

class QAction;
class QLabel;
class QLineEdit;
class QWidget;
class TGridTrinket;

// The register search in the main window's button column: the grid shows what matches as one
// types, with the count of what was found. Ctrl+F goes to the field, Esc empties it.
class TRegisterSearch final : public QObject
{
    Q_OBJECT

public:
    TRegisterSearch(TGridTrinket* grid, QWidget* client, QWidget* window);

    QLineEdit* EdSearch;
    QLabel* LbFound;
    QAction* ActFind;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateStatus();
    void scheduleStatus();

    TGridTrinket* m_grid;
    bool m_statusScheduled = false;
};
