#pragma once

#include <QString>

// The controller-related texts shown to the installer.
namespace DeviceTexts {
inline QString portReadError()
{
    return QStringLiteral("Ошибка чтения из COM порта");
}
inline QString noAnswer()
{
    return QStringLiteral("Нет ответа от QM407");
}
inline QString eepromReadError()
{
    return QStringLiteral("Ошибка чтения данных из EEPROM");
}
inline QString eepromWriteError()
{
    return QStringLiteral("Ошибка записи данных в EEPROM");
}
inline QString crcError()
{
    return QStringLiteral("Ошибка установки EEPROM CRC");
}
inline QString versionReadError()
{
    return QStringLiteral("Ошибка чтения версии");
}
inline QString unknownVersion()
{
    return QStringLiteral("Неизвестная версия");
}
inline QString journalReadError()
{
    return QStringLiteral("Ошибка чтения журнала");
}
inline QString enrolError()
{
    return QStringLiteral("Ошибка установки брелка");
}
inline QString testError()
{
    return QStringLiteral("Ошибка при проверке брелка");
}
} // namespace DeviceTexts
