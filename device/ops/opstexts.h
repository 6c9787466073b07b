#pragma once

#include <QString>

// The texts the installer sees during the device operations.
namespace OpsTexts {
inline QString enrolLabel()
{
    return QStringLiteral("Установка брелка.\nНажмите кнопку '1' на брелке и удерживайте ее нажатой 2 сек");
}
inline QString testLabel()
{
    return QStringLiteral("\nНажмите кнопку на проверяемом брелке");
}
inline QString masterExistsQuestion()
{
    return QStringLiteral("Мастер-брелок уже имеется в базе данных, продолжить?");
}
inline QString trinketExistsQuestion()
{
    return QStringLiteral("Брелок для этого устройства уже установлен, продолжить?");
}
inline QString duplicateCode()
{
    return QStringLiteral("Брелок с таким кодом уже есть в БД");
}
inline QString notButtonOne()
{
    return QStringLiteral("Нажата не кнопка '1' брелка");
}
inline QString trinketCaption()
{
    return QStringLiteral("Брелок");
}
inline QString versionCaption()
{
    return QStringLiteral("Версия");
}
// A mode box whose text names none of the six modes; nothing is written then.
inline QString invalidZoneMode(int zone)
{
    return QStringLiteral("Неверно задан режим зоны %1").arg(zone);
}
} // namespace OpsTexts
