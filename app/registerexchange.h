#pragma once

#include <QObject>

class DataFile;
class QAction;
class RecordStore;
class TFmTavro;

// The register to and from spreadsheet files: two items of the "Сервис" menu. Import changes
// the register, so it is off whenever adding a record is (during a trinket wait).
class TRegisterExchange final : public QObject
{
    Q_OBJECT

public:
    TRegisterExchange(TFmTavro* window, RecordStore& store, DataFile& data);

    QAction* NExportCsv; // "Экспорт реестра в CSV..."
    QAction* NImportCsv; // "Импорт из CSV..."

    void NExportCsvClick();
    void NImportCsvClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFmTavro* m_window;
    RecordStore& m_store;
    DataFile& m_data;
};
