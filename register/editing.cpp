#include "editing.h"

#include "recordstore.h"
#include "text1251.h"

namespace Editing {

QString emptyConsoleNumberText()
{
    return QStringLiteral("Не введен пультовой номер");
}

QString duplicateConsoleNumberText()
{
    return QStringLiteral("Такой пультовой номер уже существует");
}

CheckResult checkConsoleNumber(RecordStore& store, QByteArray& consoleNumber, qint32 editedRecordId)
{
    consoleNumber = Text1251::trimmed(Text1251::toUpper(consoleNumber));
    if (consoleNumber.isEmpty())
        return CheckResult::Empty;
    // A closed register holds no numbers to clash with; adding to it is refused later anyway.
    if (!store.isActive() || !store.locate(Field::PULT_NUM, consoleNumber))
        return CheckResult::Accepted;
    if (store.asInteger(Field::ID_RECORD) == editedRecordId)
        return CheckResult::Accepted;
    if (editedRecordId >= 0)
        store.locate(Field::ID_RECORD, editedRecordId);
    return CheckResult::Duplicate;
}

bool canEdit(const RecordStore& store)
{
    return store.isActive() && !store.eof() && store.currentRow() >= 0;
}

bool canDeleteOrErase(const RecordStore& store)
{
    return canEdit(store) && store.asInteger(Field::ID_RECORD) != 0;
}

void addRecord(RecordStore& store, qint32& maxRecordId, const QByteArray& consoleNumber, const QByteArray& address)
{
    // A file may hold the largest number there is; the next one wraps as 32-bit arithmetic
    // does instead of overflowing.
    const qint32 id = qint32(quint32(maxRecordId) + 1u);
    store.insert();
    store.setInteger(Field::ID_RECORD, id);
    store.setText(Field::PULT_NUM, consoleNumber);
    store.setText(Field::ADDRESS, address);
    store.post();
    maxRecordId = id;
}

void editCurrent(RecordStore& store, const QByteArray& consoleNumber, const QByteArray& address)
{
    store.edit();
    store.setText(Field::PULT_NUM, consoleNumber);
    store.setText(Field::ADDRESS, address);
    store.post();
}

void deleteCurrent(RecordStore& store)
{
    store.remove();
}

void eraseTrinket(RecordStore& store)
{
    store.edit();
    store.setInteger(Field::ID_TRINK, 0);
    store.setText(Field::CODE, QByteArray(""));
    store.post();
}

namespace {
QString currentNumber(const RecordStore& store)
{
    return Text1251::toUnicode(Text1251::trimmed(store.asText(Field::PULT_NUM)));
}
} // namespace

QString deleteQuestion(const RecordStore& store)
{
    return QStringLiteral("Вы действительно хотите удалить запись о пульт. N ") + currentNumber(store) + QLatin1Char('?');
}

QString eraseQuestion(const RecordStore& store)
{
    return QStringLiteral("Стереть информацию о брелке в пульт. N ") + currentNumber(store) + QLatin1Char('?');
}

} // namespace Editing
