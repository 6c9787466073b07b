// The settings store in the registry: the user's hive, taking over an older installation's
// machine-wide values once.
#include "app/formstorage.h"
#include "app/systemstore.h"

#include <QtTest>

namespace {
const QString User = QStringLiteral("HKEY_CURRENT_USER\\Software\\Pralvek\\TavroQM407");
const QString Machine = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Pralvek\\TavroQM407");

void clear(const QString& key)
{
    QSettings(key, QSettings::NativeFormat).remove(QString());
}
} // namespace

class TestSystemStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        clear(User);
        clear(Machine);
    }
    void cleanupTestCase() { init(); }

    void storeIsTheUsersKey()
    {
        {
            std::unique_ptr<QSettings> store = TFormStorage::openStore();
            store->setValue(QStringLiteral("TFmTavro/PortName"), QStringLiteral("COM3"));
        }
        QSettings user(User, QSettings::NativeFormat);
        QCOMPARE(user.value(QStringLiteral("TFmTavro/PortName")).toString(), QStringLiteral("COM3"));
        QVERIFY(QSettings(Machine, QSettings::NativeFormat).allKeys().isEmpty());
    }

    void machineValuesAreTakenOverOnce()
    {
        {
            QSettings machine(Machine, QSettings::NativeFormat);
            machine.setValue(QStringLiteral("TFmTavro/PortName"), QStringLiteral("COM4"));
            machine.setValue(QStringLiteral("TFmTavro/FormVersion"), 0);
        }
        std::unique_ptr<QSettings> store = SystemStore::open();
        QVERIFY(store->fileName().endsWith(User));
        QCOMPARE(store->value(QStringLiteral("TFmTavro/PortName")).toString(), QStringLiteral("COM4"));
        store->setValue(QStringLiteral("TFmTavro/PortName"), QStringLiteral("COM7"));
        store.reset();

        // The user's own value wins from then on; the machine-wide key is left as it was.
        QSettings(Machine, QSettings::NativeFormat)
            .setValue(QStringLiteral("TFmTavro/PortName"), QStringLiteral("COM2"));
        QCOMPARE(SystemStore::open()->value(QStringLiteral("TFmTavro/PortName")).toString(), QStringLiteral("COM7"));
        QCOMPARE(QSettings(Machine, QSettings::NativeFormat).value(QStringLiteral("TFmTavro/PortName")).toString(),
                 QStringLiteral("COM2"));
    }
};

QTEST_GUILESS_MAIN(TestSystemStore)
#include "tst_systemstore.moc"
