#include "register/record.h"

#include "register/registererror.h"

namespace {

int intIndex(Field f)
{
    if (!isIntegerField(f))
        throw RegisterError(
            QStringLiteral("MTTrinkets: Field '%1' is not an integer field").arg(QLatin1String(fieldName(f))));
    return int(f);
}

int textIndex(Field f)
{
    if (isIntegerField(f))
        throw RegisterError(
            QStringLiteral("MTTrinkets: Field '%1' is not a text field").arg(QLatin1String(fieldName(f))));
    return int(f) - int(Field::CODE);
}

} // namespace

const char* fieldName(Field f)
{
    switch (f) {
    case Field::ID_RECORD:
        return "ID_RECORD";
    case Field::ID_TRINK:
        return "ID_TRINK";
    case Field::ID_TRINK_D:
        return "ID_TRINK_D";
    case Field::CODE:
        return "CODE";
    case Field::CODE_D:
        return "CODE_D";
    case Field::PULT_NUM:
        return "PULT_NUM";
    case Field::ADDRESS:
        return "ADDRESS";
    }
    return "";
}

bool Record::isNull(Field f) const
{
    return isIntegerField(f) ? !m_ints[size_t(intIndex(f))].has_value() : !m_texts[size_t(textIndex(f))].has_value();
}

qint32 Record::asInteger(Field f) const
{
    return m_ints[size_t(intIndex(f))].value_or(0);
}

QByteArray Record::asText(Field f) const
{
    return m_texts[size_t(textIndex(f))].value_or(QByteArray());
}

void Record::setInteger(Field f, qint32 value)
{
    m_ints[size_t(intIndex(f))] = value;
}

void Record::setText(Field f, const QByteArray& value)
{
    const qsizetype nul = value.indexOf('\0');
    qsizetype length = nul < 0 ? value.size() : nul;
    length = qMin<qsizetype>(length, textFieldWidth(f));
    // Always non-null, even when empty; never shares a large buffer it was cut from.
    QByteArray text(value.constData(), length);
    m_texts[size_t(textIndex(f))] = std::move(text);
}

void Record::setNull(Field f)
{
    if (isIntegerField(f))
        m_ints[size_t(intIndex(f))].reset();
    else
        m_texts[size_t(textIndex(f))].reset();
}

bool Record::operator==(const Record& o) const
{
    return m_ints == o.m_ints && m_texts == o.m_texts;
}
