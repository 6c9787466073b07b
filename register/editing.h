#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class RecordStore;

// The editing rules of the register, as the main window's handlers apply them.
namespace Editing {

enum class CheckResult
{
    Accepted,
    Empty, // "Не введен пультовой номер"
    Duplicate, // "Такой пультовой номер уже существует"
};

QString emptyConsoleNumberText(); // "Не введен пультовой номер"
QString duplicateConsoleNumberText(); // "Такой пультовой номер уже существует"

// Upper-cases (Windows-1251) and trims the console number in place, then checks it against
// the register. On a duplicate while editing, the edited record is made current again.
CheckResult checkConsoleNumber(RecordStore& store, QByteArray& consoleNumber, qint32 editedRecordId);

// at-end clear (edit); at-end clear and the current record not numbered 0 (delete, erase, enrol).
bool canEdit(const RecordStore& store);
bool canDeleteOrErase(const RecordStore& store);

// Hands out record numbers for new records: one above the largest, and past the largest 32-bit
// number the lowest ones no record holds (counting on would wrap below 0, and the next load,
// finding the largest again, would hand those out once more). maxRecordId follows, never lowered.
// The records numbered must be added before the next number is asked for.
class RecordNumbers final
{
public:
    RecordNumbers(const RecordStore& store, qint32& maxRecordId);
    qint32 next();

private:
    const RecordStore& m_store;
    qint32& m_max;
    std::vector<qint32> m_used; // sorted, read once the largest number is reached
    size_t m_passed = 0;
    qint32 m_candidate = 1;
    bool m_scanned = false;
};

void addRecord(RecordStore& store, qint32& maxRecordId, const QByteArray& consoleNumber, const QByteArray& address);
void editCurrent(RecordStore& store, const QByteArray& consoleNumber, const QByteArray& address);
void deleteCurrent(RecordStore& store);
void eraseTrinket(RecordStore& store);

QString deleteQuestion(const RecordStore& store); // "Вы действительно хотите удалить запись о пульт. N 105?"
QString eraseQuestion(const RecordStore& store); // "Стереть информацию о брелке в пульт. N 105?"

// The 10-character jumper pattern of a 24-bit trinket code, highest digit first:
// '0' tied to GND, 'X' free, '?' undefined, '1' tied to UCC. The button bits fall away.
QString TrinketCode(quint32 value);

// Only button '1' may enrol a trinket; the code's low four bits name the button used.
bool isButtonOne(quint32 code);

// The console number of the record numbered 0, which holds the master trinket.
QByteArray masterConsoleNumber(); // "MASTER"

enum class Enrolment
{
    Recorded,
    DuplicateCode, // another record's first trinket has the code; that record is now current
    NotButtonOne,
    RecordGone, // the record numbered recordId went during the wait: nothing recorded
};

// The master trinket's code goes into the record numbered 0, which is added when missing.
Enrolment recordMaster(RecordStore& store, qint32 code);

// The trinkets enrolled for the record numbered recordId; `second` only in two-trinket mode,
// else the record keeps its second trinket.
Enrolment recordTrinkets(RecordStore& store, qint32 recordId, qint32 first, std::optional<qint32> second);

} // namespace Editing
