#include "tests/support/fixtures.h"

#include "device/deviceerror.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QFile>

namespace Fixtures {

QByteArray cp(const char* utf8)
{
    return Text1251::fromUnicode(QString::fromUtf8(utf8));
}

QByteArray hex(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray workedExampleBytes()
{
    const QByteArray bytes = readFile(QStringLiteral(QM407_WORKED_EXAMPLE));
    if (bytes.isEmpty())
        qFatal("the worked example %s is missing", QM407_WORKED_EXAMPLE);
    return bytes;
}

void fillWorkedExample(RecordStore& store)
{
    Record master;
    master.setInteger(Field::ID_RECORD, 0);
    master.setInteger(Field::ID_TRINK, 0x5A3C13);
    master.setText(Field::CODE, "XX??01100X");
    master.setText(Field::PULT_NUM, "MASTER");
    store.append(master);
    Record r;
    r.setInteger(Field::ID_RECORD, 1);
    r.setInteger(Field::ID_TRINK, 0x2B7E53);
    r.setText(Field::CODE, "0??1X11?XX");
    r.setText(Field::PULT_NUM, "105");
    r.setText(Field::ADDRESS, cp("ул. Мира, 7"));
    store.append(r);
}

namespace {
    QByteArray randomText(QRandomGenerator& rng, int width)
    {
        static const QByteArray cyr = cp("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ№«»");
        static const QByteArray latin("0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZabcxyz.,-/?X");
        switch (rng.bounded(5)) {
        case 0:
            return QByteArray("");
        case 1: { // full width, the cut must keep all of it
            QByteArray t;
            for (int i = 0; i < width; ++i)
                t.append(cyr[int(rng.bounded(cyr.size()))]);
            return t;
        }
        default: {
            const bool cyrillic = rng.bounded(3) == 0;
            const QByteArray& pool = cyrillic ? cyr : latin;
            QByteArray t;
            const int n = int(rng.bounded(width + 1));
            for (int i = 0; i < n; ++i)
                t.append(pool[int(rng.bounded(pool.size()))]);
            return t;
        }
        }
    }

    qint32 randomInteger(QRandomGenerator& rng)
    {
        static const qint32 edges[]
            = {0, -1, 127, 128, -128, -129, 32767, 32768, -32768, -32769, 0x7FFFFFFF, qint32(0x80000000), 0xFFFFFF};
        if (rng.bounded(2))
            return edges[rng.bounded(int(sizeof edges / sizeof edges[0]))];
        return qint32(rng.generate());
    }
} // namespace

Record randomRecord(QRandomGenerator& rng)
{
    Record r;
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = Field(i);
        if (rng.bounded(4) == 0)
            continue; // stays null
        if (isIntegerField(f))
            r.setInteger(f, randomInteger(rng));
        else
            r.setText(f, randomText(rng, textFieldWidth(f)));
    }
    return r;
}

void fillNumberedRegister(RecordStore& store, quint32 k)
{
    QRandomGenerator rng(k);
    const int n = 1 + int(rng.bounded(120));
    for (int i = 0; i < n; ++i) {
        Record r = randomRecord(rng);
        if (i == 0)
            r.setInteger(Field::ID_RECORD, qint32(k));
        store.append(r);
    }
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray writeCells(int cell, const QByteArray& values)
{
    QByteArray frames;
    for (int i = 0; i < values.size(); ++i)
        frames += QByteArray("\x53\x13", 2) + char(cell + i) + values.at(i);
    return frames;
}

QByteArray readSlot(int cell)
{
    QByteArray frames;
    for (int i = 2; i >= 0; --i)
        frames += QByteArray("\x53\x14", 2) + char(cell + i);
    return frames;
}

QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const DeviceError& e) {
        return e.message();
    }
    return QString();
}

} // namespace Fixtures
