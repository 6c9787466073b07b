#pragma once

#include <QByteArray>
#include <QString>

class RecordStore;

// The editing rules of the register, as the main window's handlers apply them.
namespace Editing {

enum class CheckResult
{
    Accepted,
    Empty,       // "Не введен пультовой номер"
    Duplicate,   // "Такой пультовой номер уже существует"
};

QString emptyConsoleNumberText();       // "Не введен пультовой номер"
QString duplicateConsoleNumberText();   // "Такой пультовой номер уже существует"

// Upper-cases (Windows-1251) and trims the console number in place, then checks it against
// the register. On a duplicate while editing, the edited record is made current again.
CheckResult checkConsoleNumber(RecordStore& store, QByteArray& consoleNumber, qint32 editedRecordId);

// at-end clear (edit); at-end clear and the current record not numbered 0 (delete, erase, enrol).
bool canEdit(const RecordStore& store);
bool canDeleteOrErase(const RecordStore& store);

void addRecord(RecordStore& store, qint32& maxRecordId, const QByteArray& consoleNumber, const QByteArray& address);
void editCurrent(RecordStore& store, const QByteArray& consoleNumber, const QByteArray& address);
void deleteCurrent(RecordStore& store);
void eraseTrinket(RecordStore& store);

QString deleteQuestion(const RecordStore& store);   // "Вы действительно хотите удалить запись о пульт. N 105?"
QString eraseQuestion(const RecordStore& store);    // "Стереть информацию о брелке в пульт. N 105?"

} // namespace Editing
