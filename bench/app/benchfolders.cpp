#include "bench/app/benchfolders.h"

#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QDir>
#include <QFile>

namespace {
const char* const Streets[] = {"ул. Садовая", "пр. Мира", "ул. Ленина", "Невский пр.", "ул. Гагарина"};
} // namespace

QByteArray largeRegister(int count)
{
    RecordStore store;
    for (int id = count; id >= 1; --id) {
        Record r;
        r.setInteger(Field::ID_RECORD, id);
        r.setInteger(Field::ID_TRINK, id * 31 % 0xFFFFFF);
        r.setText(Field::CODE, "0X1X0X10X?");
        r.setText(Field::PULT_NUM, QByteArray::number(qint64(id) * 7919 % 1000003));
        r.setText(Field::ADDRESS,
                  Text1251::fromUtf8(Streets[id % 5]) + Text1251::fromUtf8(", д. ") + QByteArray::number(id % 500));
        store.append(r);
    }
    return DataFormat::write(store);
}

BenchFolders::BenchFolders()
{
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", m_home.path().toLocal8Bit());
    QDir::setCurrent(m_work.path());
}

bool BenchFolders::writeRegister(int count)
{
    QFile file(QStringLiteral("Trinket.dat"));
    return file.open(QIODevice::WriteOnly) && file.write(largeRegister(count)) > 0 && file.flush();
}

std::vector<Record> registerRecords()
{
    QFile file(QStringLiteral("Trinket.dat"));
    RecordStore store;
    if (file.open(QIODevice::ReadOnly))
        DataFormat::read(store, file.readAll());
    return store.rows();
}
