#pragma once

#include "register/record.h"

#include <QString>
#include <QStringList>

#include <vector>

class QIODevice;
class RecordStore;

// The register as a spreadsheet file and back: export of every record, and an import that is
// first planned (what would be added, what is refused and why) and then applied in one go.
namespace RegisterCsv {

// Column headers, in file order; the two raw-code columns may be missing on import.
QStringList headers();

// UTF-8 with a byte-order mark, ';' between fields, CRLF line ends, records by ascending
// number: N, console number, address, both codes as shown, both raw codes. False on a failed write.
bool write(const RecordStore& store, QIODevice& device);

struct Limits
{
    qint64 maxFileBytes = 16 * 1024 * 1024;
    qsizetype maxRecordBytes = 16 * 1024;
    int maxRows = 100000;
};

struct ImportRow
{
    int line = 0; // where the row starts in the file
    QString number; // console number, normalised
    QString address;
    QString code;
    QString codeD;
    Record record; // everything but ID_RECORD
    QString refusal; // empty when the row is added
};

struct ImportPlan
{
    QString error; // the whole file is refused; nothing else is set
    bool utf8 = true;
    char separator = ';';
    bool rawCodes = true;
    std::vector<ImportRow> rows;
    int accepted() const;
};

// Reads and checks the file against the register; changes nothing.
ImportPlan plan(const QString& path, const RecordStore& store, const Limits& limits = {});
// Appends the accepted rows at the end of the register, numbered as the add operation numbers.
void apply(RecordStore& store, qint32& maxRecordId, const ImportPlan& plan);

} // namespace RegisterCsv
