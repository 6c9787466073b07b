#pragma once

#include <QObject>

class QAction;
class TFmTavro;

// The register to and from spreadsheet files: two items of the "Сервис" menu. Import changes
// the register, so it is off whenever adding a record is (during a trinket wait).
class TRegisterExchange final : public QObject
{
    Q_OBJECT

public:
    explicit TRegisterExchange(TFmTavro* window);

    QAction* NExportCsv; // "Экспорт реестра в CSV..."
    QAction* NImportCsv; // "Импорт из CSV..."

    void NExportCsvClick();
    void NImportCsvClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFmTavro* m_window;
};
