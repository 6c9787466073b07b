#pragma once

#include "app/auxwindow.h"
#include "register/registercsv.h"

class QLabel;
class QPushButton;
class QTableView;

// What an import would do, shown before anything changes: the rows to be added and the rows
// refused with the reason. "Добавить" closes with OK; "Отмена", Esc and the close box with Cancel.
class TSFImportPreview final : public TAuxWindow
{
    Q_OBJECT

public:
    explicit TSFImportPreview(QWidget* mainWindow);
    void setPlan(const RegisterCsv::ImportPlan& plan);

    QLabel* LbAccepted;
    QTableView* GridAccepted;
    QLabel* LbRefused;
    QTableView* GridRefused;
    QPushButton* BtImportOk;
    QPushButton* BtImportCancel;
};
