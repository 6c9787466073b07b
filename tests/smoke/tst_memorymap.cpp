#include "memorymap.h"

#include <QtTest>

class TestMemoryMap : public QObject
{
    Q_OBJECT
private slots:
    void initialIsQm407OtherVersions() { QCOMPARE(MemoryMap::initial(), MemoryMap::qm407()); }
};

QTEST_GUILESS_MAIN(TestMemoryMap)
#include "tst_memorymap.moc"
