#pragma once

#include <QObject>

class InstallerCore;
class QAction;
class QMenu;
class QWidget;

// The register to and from spreadsheet files: two items of the "Сервис" menu. Import changes
// the register, so it is off during a trinket wait.
class TRegisterExchange final : public QObject
{
    Q_OBJECT

public:
    TRegisterExchange(InstallerCore& core, QMenu* menu, QWidget* mainWindow);

    QAction* NExportCsv; // "Экспорт реестра в CSV..."
    QAction* NImportCsv; // "Импорт из CSV..."

    void NExportCsvClick();
    void NImportCsvClick();

private:
    InstallerCore& m_core;
    QWidget* m_window;
};
