#include "device/ops/journal.h"

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

QString eventText(quint8 event)
{
    QString text = eventName(event >> 4);
    if (event & 0x0F)
        text += QStringLiteral(" (") + QString::number(event & 0x0F) + QLatin1Char(')');
    return text;
}

QString journalLine(quint8 event, quint32 minutes)
{
    // The "c" of "c начала" is a Latin letter in the controller's texts.
    return eventText(event) + QStringLiteral(", прошло ") + MinutesToText(minutes) + QStringLiteral(" c начала работы");
}

void readJournal(Controller& controller, QStringList& lines, QList<JournalEntry>* entries)
{
    lines.clear();
    if (entries)
        entries->clear();
    const int count = controller.memoryMap().JournalLength - 1;
    for (int i = 0; i < count; ++i) {
        const JournalEntry entry = controller.readJournalEntry(i);
        lines.append(journalLine(entry.event, entry.minutes));
        if (entries)
            entries->append(entry);
    }
}

} // namespace DeviceOps
