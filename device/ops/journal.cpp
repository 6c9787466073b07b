#include "journal.h"

#include "controller.h"
#include "devicetexts.h"
#include "frame.h"

namespace DeviceOps {

QString MinutesToText(quint32 minutes)
{
    return QString::number(minutes / 1440) + QStringLiteral("дн ") + QString::number(minutes % 1440 / 60)
        + QStringLiteral("ч ") + QString::number(minutes % 60) + QStringLiteral("мин");
}

QString eventName(int code)
{
    static const char16_t* const names[16] = {
        u"Unknown",
        u"Замыкание датчика",
        u"Размыкание датчика",
        u"Восстановление зоны",
        u"Разряд АКК",
        u"Востановление АКК",
        u"Взятие",
        u"Снятие",
        u"Сброс",
        u"Задержанная сработка",
        u"Вскрытие",
        u"Конец вскрытия",
        u"Отказ передатчика",
        u"Замыкание шлейфа",
        u"Обрыв шлейфа",
        u"Unknown",
    };
    return QString::fromUtf16(names[code & 0x0F]);
}

QString journalLine(quint8 event, quint32 minutes)
{
    QString line = eventName(event >> 4);
    if (event & 0x0F)
        line += QStringLiteral(" (") + QString::number(event & 0x0F) + QLatin1Char(')');
    // The "c" of "c начала" is a Latin letter in the controller's texts.
    return line + QStringLiteral(", прошло ") + MinutesToText(minutes) + QStringLiteral(" c начала работы");
}

void readJournal(Controller& controller, QStringList& lines)
{
    lines.clear();
    const int entries = controller.memoryMap().JournalLength - 1;
    for (int i = 0; i < entries; ++i) {
        const QByteArray data
            = controller.exchange(frame({0x53, 0x11, i}), 5, DeviceTexts::noAnswer(), DeviceTexts::journalReadError());
        const auto byte = [&data](int k) { return quint32(quint8(data.at(k))); };
        lines.append(journalLine(quint8(byte(0)), byte(3) << 16 | byte(2) << 8 | byte(1)));
    }
}

} // namespace DeviceOps
