#include "register/editing.h"

#include "register/recordstore.h"
#include "register/text1251.h"

#include <algorithm>
#include <limits>
#include <vector>

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

RecordNumbers::RecordNumbers(const RecordStore& store, qint32& maxRecordId)
    : m_store(store)
    , m_max(maxRecordId)
{
}

qint32 RecordNumbers::next()
{
    if (m_max < std::numeric_limits<qint32>::max())
        return ++m_max;
    if (!m_scanned) {
        m_scanned = true;
        for (int row = 0; row < m_store.count(); ++row) {
            if (m_store.integerAt(row, Field::ID_RECORD) > 0)
                m_used.push_back(m_store.integerAt(row, Field::ID_RECORD));
        }
        std::sort(m_used.begin(), m_used.end());
    }
    // Numbers handed out here rise, so the ones passed stay passed.
    for (; m_passed < m_used.size() && m_used[m_passed] <= m_candidate; ++m_passed) {
        if (m_used[m_passed] == m_candidate)
            ++m_candidate;
    }
    return m_candidate++;
}

void addRecord(RecordStore& store, qint32& maxRecordId, const QByteArray& consoleNumber, const QByteArray& address)
{
    // Raised once the record is posted: an add refused on a closed register hands out nothing.
    qint32 max = maxRecordId;
    const qint32 id = RecordNumbers(store, max).next();
    store.insert();
    store.setInteger(Field::ID_RECORD, id);
    store.setText(Field::PULT_NUM, consoleNumber);
    store.setText(Field::ADDRESS, address);
    store.post();
    maxRecordId = max;
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
    return QStringLiteral("Вы действительно хотите удалить запись о пульт. N ") + currentNumber(store)
        + QLatin1Char('?');
}

QString eraseQuestion(const RecordStore& store)
{
    return QStringLiteral("Стереть информацию о брелке в пульт. N ") + currentNumber(store) + QLatin1Char('?');
}

QString TrinketCode(quint32 value)
{
    static const char digits[] = {'0', 'X', '?', '1'};
    QString text(10, QLatin1Char('0'));
    for (int i = 0; i < 10; ++i)
        text[9 - i] = QLatin1Char(digits[(value >> (4 + 2 * i)) & 3]);
    return text;
}

bool isButtonOne(quint32 code)
{
    return (code & 0x0F) == 3;
}

QByteArray masterConsoleNumber()
{
    return QByteArrayLiteral("MASTER");
}

namespace {
    QByteArray codeText(qint32 code)
    {
        return Text1251::fromUnicode(TrinketCode(quint32(code)));
    }
} // namespace

Enrolment recordMaster(RecordStore& store, qint32 code)
{
    if (store.locate(Field::ID_TRINK, code) && store.asInteger(Field::ID_RECORD) != 0)
        return Enrolment::DuplicateCode;
    if (!isButtonOne(quint32(code)))
        return Enrolment::NotButtonOne;
    if (store.locate(Field::ID_RECORD, 0))
        store.edit();
    else
        store.insert();
    store.setInteger(Field::ID_RECORD, 0);
    store.setText(Field::PULT_NUM, masterConsoleNumber());
    store.setInteger(Field::ID_TRINK, code);
    store.setText(Field::CODE, codeText(code));
    store.post();
    return Enrolment::Recorded;
}

Enrolment recordTrinkets(RecordStore& store, qint32 recordId, qint32 first, std::optional<qint32> second)
{
    // Only the first-trinket field is searched; the found record stays current.
    bool found = store.locate(Field::ID_TRINK, first);
    if (!found && second)
        found = store.locate(Field::ID_TRINK, *second);
    if (found && store.asInteger(Field::ID_RECORD) != recordId)
        return Enrolment::DuplicateCode;
    if (!isButtonOne(quint32(first)) || (second && !isButtonOne(quint32(*second))))
        return Enrolment::NotButtonOne;
    // The grid stays usable during the waits: should the record have gone meanwhile, no other
    // record may receive its trinkets.
    if (!store.locate(Field::ID_RECORD, recordId))
        return Enrolment::RecordGone;
    store.edit();
    store.setInteger(Field::ID_TRINK, first);
    store.setText(Field::CODE, codeText(first));
    if (second) {
        store.setInteger(Field::ID_TRINK_D, *second);
        store.setText(Field::CODE_D, codeText(*second));
    }
    store.post();
    return Enrolment::Recorded;
}

} // namespace Editing
