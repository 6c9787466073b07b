#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <optional>

// The seven fields of an installation record, in their fixed order.
enum class Field
{
    ID_RECORD,
    ID_TRINK,
    ID_TRINK_D,
    CODE,
    CODE_D,
    PULT_NUM,
    ADDRESS,
};
constexpr int FieldCount = 7;

// Inline: the data file's writer asks them for every field of every record.
inline bool isIntegerField(Field f)
{
    return f == Field::ID_RECORD || f == Field::ID_TRINK || f == Field::ID_TRINK_D;
}
inline int textFieldWidth(Field f) // 32 or 80; 0 for integer fields
{
    return isIntegerField(f) ? 0 : f == Field::ADDRESS ? 80 : 32;
}
const char* fieldName(Field f); // "ID_RECORD", ...

// One installation record. Every field may be null; a null integer reads as 0 and a null
// text as "". Texts are Windows-1251 bytes, cut to the field's width, ending at a NUL.
class Record
{
public:
    bool isNull(Field f) const;
    qint32 asInteger(Field f) const;
    QByteArray asText(Field f) const;
    // The writer's reads, without copies or checks: the integers and the texts, each in field order.
    const std::optional<qint32>& integerAt(int i) const { return m_ints[size_t(i)]; }
    const std::optional<QByteArray>& textAt(int i) const { return m_texts[size_t(i)]; }
    void setInteger(Field f, qint32 value);
    void setText(Field f, const QByteArray& value);
    void setNull(Field f);

    bool operator==(const Record& o) const;
    bool operator!=(const Record& o) const { return !(*this == o); }

private:
    std::array<std::optional<qint32>, 3> m_ints;
    std::array<std::optional<QByteArray>, 4> m_texts;
};
