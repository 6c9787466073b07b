#include "register/datafile.h"
#include "register/dataformat.h"
#include "register/editing.h"
#include "register/heldfile.h"
#include "register/recordstore.h"
#include "register/registererror.h"
#include "register/savejournal.h"
#include "tests/support/filesizecap.h"
#include "tests/support/fixtures.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Fixtures::readFile;
using Fixtures::writeFile;

namespace {

QByteArray registerBytes(const QList<qint32>& ids)
{
    RecordStore s;
    for (qint32 id : ids) {
        Record r;
        r.setInteger(Field::ID_RECORD, id);
        r.setInteger(Field::ID_TRINK, 0x100000 + id);
        r.setText(Field::PULT_NUM, QByteArray::number(id));
        r.setText(Field::ADDRESS, Fixtures::cp("ул. Садовая, ") + QByteArray::number(id));
        s.append(r);
    }
    return DataFormat::write(s);
}

QList<qint32> ids(const RecordStore& s)
{
    QList<qint32> out;
    for (const Record& r : s.rows())
        out.append(r.asInteger(Field::ID_RECORD));
    return out;
}

// Another copy of the tool, holding or creating the file from its own process.
class OtherProcess
{
public:
    explicit OtherProcess(const QStringList& args)
    {
        m_process.start(QStringLiteral(FILETOOL_PATH), args);
        m_process.waitForStarted(30000);
        m_process.waitForReadyRead(30000);
        answer = QString::fromLatin1(m_process.readLine().trimmed());
    }
    ~OtherProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(30000))
            m_process.kill();
        m_process.waitForFinished(30000);
    }
    QString answer;

private:
    QProcess m_process;
};

} // namespace

class TestDataFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstStartWithNoFilesCreatesAnew();
    void defaultNamesResolveInTheCurrentDirectory();
    void zeroLengthFileIsAnEmptyRegister();
    void readOnlyDataFileIsNotLoaded();
    void loadDerivesMaxRecordIdAndMasterCode();
    void savingNeverShrinksTheFile();
    void savesOfAFewRecordsLeaveTheWholeRegister_data();
    void savesOfAFewRecordsLeaveTheWholeRegister();
    void restoreOfShorterBackupOverLongerDamagedFile();
    void restoreFailsWithoutBackup();
    void createAnewKeepsTheIntactRecords();
    void shutDownRefreshesTheBackup();
    void failedBackupIsReported_data();
    void failedBackupIsReported();
    void failedSaveReachesTheCallerAndSparesTheBackup();
    void copyWorksInBlocksWithoutTruncating();
    void copyRefusesReadOnlyTarget();
    void fileHeldByAnotherProcessIsLeftAlone();
    void anotherProcessCannotTakeOurFile();
    void leftoverJournalsAtLoad_data();
    void leftoverJournalsAtLoad();
    void strangeJournalsAreIgnored_data();
    void strangeJournalsAreIgnored();
    void folderThatTakesNoNewFiles_data();
    void folderThatTakesNoNewFiles();
    void repairsReplaceALinkNamedLikeTheDataFile_data();
    void repairsReplaceALinkNamedLikeTheDataFile();
    void onlyRegularFilesAreOpened();
    void backupLinkIsReplacedNotWrittenThrough();
    void restrictiveUmask();
    void numbersPastTheLargestAcrossARestart();
    void validRegisterBeforeAHugeTailLoads();

private:
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDataFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The per-user state folder, where journals go that cannot lie beside the file.
    qputenv("XDG_DATA_HOME", QFile::encodeName(path("state")));
}

void TestDataFile::firstStartWithNoFilesCreatesAnew()
{
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QVERIFY(!file.isHeld());
    QVERIFY(!store.isActive());
    QVERIFY(!file.backupExists());
    QVERIFY_THROWS_EXCEPTION(RegisterError, file.lookUpMasterCode());
    file.SaveData(); // nothing held: nothing written, no error
    QVERIFY(!QFile::exists(path("Trinket.dat")));

    QVERIFY(file.createAnew());
    QVERIFY(file.isHeld());
    QVERIFY(store.isActive());
    QCOMPARE(readFile(path("Trinket.dat")), Fixtures::hex("54 50 46 30 03 FB 00 01 00 01 00 01 00"));
    QCOMPARE(file.MaxRecordId, 0);
    QCOMPARE(file.lookUpMasterCode(), 0);

    qint32 max = file.MaxRecordId;
    Editing::addRecord(store, max, "1", QByteArray());
    file.SaveData();
    RecordStore other;
    DataFormat::read(other, readFile(path("Trinket.dat")));
    QCOMPARE(ids(other), QList<qint32>({1}));
}

void TestDataFile::defaultNamesResolveInTheCurrentDirectory()
{
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    {
        RecordStore store;
        DataFile file(store);
        QVERIFY(writeFile(path("Trinket.dat"), registerBytes({0, 3})));
        QCOMPARE(file.LoadData(), 0);
        file.shutDown();
    }
    QDir::setCurrent(before);
    QCOMPARE(readFile(path("Trinket.bkd")), registerBytes({0, 3}));
}

void TestDataFile::zeroLengthFileIsAnEmptyRegister()
{
    QVERIFY(writeFile(path("Trinket.dat"), QByteArray()));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    QVERIFY(file.isHeld());
    QVERIFY(store.isActive());
    QCOMPARE(store.count(), 0);
    QVERIFY(store.eof());
    QCOMPARE(file.MaxRecordId, 0);
    file.SaveData();
    QCOMPARE(readFile(path("Trinket.dat")).size(), 13);
}

void TestDataFile::readOnlyDataFileIsNotLoaded()
{
    const QByteArray bytes = registerBytes({1, 2});
    QVERIFY(writeFile(path("Trinket.dat"), bytes));
    QVERIFY(QFile::setPermissions(path("Trinket.dat"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QVERIFY(!file.isHeld());
    QCOMPARE(file.createAnew().error(),
             QStringLiteral("Не могу создать файл данных")); // a read-only file is not cut either
    QCOMPARE(readFile(path("Trinket.dat")), bytes);
}

void TestDataFile::loadDerivesMaxRecordIdAndMasterCode()
{
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({2, 5, -7, 0, 1})));
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(file.MaxRecordId, 5);
    QVERIFY(store.eof()); // the scan leaves the register at its end
    QCOMPARE(file.lookUpMasterCode(), 0x100000);
    QCOMPARE(store.currentRow(), 3);
    QVERIFY(!store.eof());

    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({-3, -1})));
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(file.MaxRecordId, 0);
    store.first();
    QCOMPARE(file.lookUpMasterCode(), 0); // no master: nothing moves
    QCOMPARE(store.currentRow(), 0);
    QVERIFY(store.bof());
}

void TestDataFile::savingNeverShrinksTheFile()
{
    const QByteArray five = registerBytes({1, 2, 3, 4, 5});
    QVERIFY(writeFile(path("Trinket.dat"), five));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    for (qint32 id : {2, 3, 5}) {
        store.locate(Field::ID_RECORD, id);
        Editing::deleteCurrent(store);
        file.SaveData();
    }
    const QByteArray after = readFile(path("Trinket.dat"));
    QCOMPARE(after.size(), five.size());
    QCOMPARE(after.left(registerBytes({1, 4}).size()), registerBytes({1, 4}));
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({1, 4}));
    QCOMPARE(file.MaxRecordId, 4);
}

void TestDataFile::savesOfAFewRecordsLeaveTheWholeRegister_data()
{
    // One save per row changed: its PULT_NUM, of the given length (three digits before), or the
    // row removed when negative.
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QList<int>>("lengths");
    QTest::newRow("same length, then longer") << QList<int>({200, 200, 250}) << QList<int>({3, 30, 3});
    QTest::newRow("first and last records") << QList<int>({0, 399}) << QList<int>({70, 1});
    QTest::newRow("removed: the file keeps its tail") << QList<int>({-5, -390, -100}) << QList<int>({0, 0, 0});
    QTest::newRow("shorter, then longer, in one block") << QList<int>({300, 301, 300}) << QList<int>({2, 60, 13});
}

// A register of some forty blocks saved again and again after a change or two: each save writes
// the few blocks its change reaches, and the file holds the whole register after each.
void TestDataFile::savesOfAFewRecordsLeaveTheWholeRegister()
{
    QFETCH(QList<int>, rows);
    QFETCH(QList<int>, lengths);
    QList<qint32> all;
    for (qint32 id = 1; id <= 400; ++id)
        all.append(id);
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes(all)));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    for (int i = 0; i < rows.size(); ++i) {
        store.setCurrentRow(qAbs(rows.at(i)));
        if (rows.at(i) < 0) {
            store.remove();
        } else {
            store.edit();
            store.setText(Field::PULT_NUM, QByteArray(lengths.at(i), char('a' + i)));
            store.post();
        }
        file.SaveData();
        const QByteArray bytes = DataFormat::write(store);
        QCOMPARE(readFile(path("Trinket.dat")).left(bytes.size()), bytes);
    }
    const std::vector<Record> saved = store.rows();
    QCOMPARE(file.LoadData(), 0);
    QVERIFY(store.rows() == saved);
}

void TestDataFile::restoreOfShorterBackupOverLongerDamagedFile()
{
    QByteArray damaged = registerBytes({1, 2, 3, 4, 5, 6});
    damaged[registerBytes({1, 2}).size() - 1] = char(0x7E); // the third record's list start
    const QByteArray backup = registerBytes({0, 1});
    QVERIFY(writeFile(path("Trinket.dat"), damaged));
    QVERIFY(writeFile(path("Trinket.bkd"), backup));

    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QVERIFY(file.backupExists());
    // The failed load has released the file, so the copy can write over it.
    QVERIFY(file.restoreFromBackup());
    QVERIFY(file.isHeld());
    QCOMPARE(ids(store), QList<qint32>({0, 1}));
    file.release();
    const QByteArray now = readFile(path("Trinket.dat"));
    QCOMPARE(now.size(), damaged.size());
    QCOMPARE(now.left(backup.size()), backup);
    QCOMPARE(now.mid(backup.size()), damaged.mid(backup.size()));
    QCOMPARE(readFile(path("Trinket.bkd")), backup);
}

void TestDataFile::restoreFailsWithoutBackup()
{
    QVERIFY(writeFile(path("Trinket.dat"), QByteArray("junk")));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QCOMPARE(file.restoreFromBackup().error(), QStringLiteral("Не могу восстановить файл данных"));
    // A backup that does not load fails the same way, and the bad backup is left as it was.
    // Nor is anything written over the data file first.
    QVERIFY(writeFile(path("Trinket.bkd"), QByteArray("TPF0")));
    QVERIFY(!file.restoreFromBackup());
    QVERIFY(!file.isHeld());
    QCOMPARE(readFile(path("Trinket.bkd")), QByteArray("TPF0"));
    QCOMPARE(readFile(path("Trinket.dat")), QByteArray("junk"));
    // With no data file at all, a failed restore leaves none behind.
    QVERIFY(QFile::remove(path("Trinket.dat")));
    QVERIFY(!file.restoreFromBackup());
    QVERIFY(!QFile::exists(path("Trinket.dat")));
}

void TestDataFile::createAnewKeepsTheIntactRecords()
{
    QByteArray file3 = registerBytes({1, 2, 3, 4});
    const int intact = registerBytes({1, 2, 3}).size() - 1; // up to the end of record 3
    file3.truncate(intact);
    file3.append(QByteArray(500, '\xEE'));
    QVERIFY(writeFile(path("Trinket.dat"), file3));
    const QByteArray backup = registerBytes({9});
    QVERIFY(writeFile(path("Trinket.bkd"), backup));

    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QCOMPARE(ids(store), QList<qint32>({1, 2, 3}));
    QVERIFY(file.createAnew());
    QCOMPARE(ids(store), QList<qint32>({1, 2, 3}));
    QCOMPARE(file.MaxRecordId, 3);
    QCOMPARE(readFile(path("Trinket.dat")), registerBytes({1, 2, 3})); // cut, then rewritten
    QCOMPARE(readFile(path("Trinket.bkd")), backup);
}

void TestDataFile::shutDownRefreshesTheBackup()
{
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({0, 1, 2, 3})));
    const QByteArray oldBackup = registerBytes({0, 1, 2, 3, 4, 5, 6, 7, 8});
    QVERIFY(writeFile(path("Trinket.bkd"), oldBackup));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    store.locate(Field::ID_RECORD, 2);
    Editing::eraseTrinket(store);
    file.SaveData();
    QVERIFY(file.shutDown());
    QVERIFY(!file.isHeld());
    QVERIFY(!store.isActive());
    const QByteArray data = readFile(path("Trinket.dat"));
    const QByteArray backup = readFile(path("Trinket.bkd"));
    // The backup keeps its longer old tail; its start is the data file byte for byte.
    QCOMPARE(backup.size(), oldBackup.size());
    QCOMPARE(backup.left(data.size()), data);
    RecordStore fromBackup;
    DataFormat::read(fromBackup, backup);
    QCOMPARE(ids(fromBackup), QList<qint32>({0, 1, 2, 3}));
    QCOMPARE(fromBackup.at(2).asInteger(Field::ID_TRINK), 0);

    // A run that never held the file writes nothing at the end.
    RecordStore other;
    QVERIFY(writeFile(path("Trinket.dat"), QByteArray("bad")));
    DataFile failed(other, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(failed.LoadData(), 2);
    failed.shutDown();
    QCOMPARE(readFile(path("Trinket.bkd")), backup);
    QCOMPARE(readFile(path("Trinket.dat")), QByteArray("bad"));
}

void TestDataFile::failedBackupIsReported_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("read-only backup") << false;
    QTest::newRow("folder in the backup's place") << true;
}

// The copy fails after the save: reported, and the data file holds the last register.
void TestDataFile::failedBackupIsReported()
{
    QFETCH(bool, folder);
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({0, 1})));
    if (folder)
        QVERIFY(QDir().mkdir(path("Trinket.bkd")));
    else
        QVERIFY(writeFile(path("Trinket.bkd"), QByteArray("old"))
                && QFile::setPermissions(path("Trinket.bkd"), QFileDevice::ReadOwner));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    store.locate(Field::ID_RECORD, 1);
    Editing::deleteCurrent(store);
    QVERIFY(!file.shutDown());
    RecordStore saved;
    DataFormat::read(saved, readFile(path("Trinket.dat")));
    QCOMPARE(ids(saved), QList<qint32>({0}));
    QCOMPARE(readFile(path("Trinket.bkd")), folder ? QByteArray() : QByteArray("old"));
}

// A save that grows the file on a file system without room for it: a small tmpfs when this
// process may mount one, otherwise a file-size limit.
void TestDataFile::failedSaveReachesTheCallerAndSparesTheBackup()
{
    const QString folder = path("small");
    QVERIFY(QDir().mkdir(folder));
    const bool mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") == 0;
    std::optional<FileSizeCap> cap;
    const auto undo = qScopeGuard([&] {
        cap.reset();
        if (mounted)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    const QString dat = folder + QStringLiteral("/Trinket.dat");
    const QString bkd = folder + QStringLiteral("/Trinket.bkd");
    const QByteArray saved = registerBytes({1, 2, 3});
    QVERIFY(writeFile(dat, saved));
    QVERIFY(writeFile(bkd, registerBytes({1})));
    const QByteArray backup = readFile(bkd);
    if (!mounted) {
        cap.emplace(16 * 1024);
        QVERIFY(cap->active());
    }

    RecordStore store;
    DataFile file(store, dat, bkd);
    QCOMPARE(file.LoadData(), 0);
    qint32 max = file.MaxRecordId;
    for (int i = 0; i < 1000; ++i)
        Editing::addRecord(store, max, QByteArray::number(i), QByteArray(80, 'a'));
    try {
        file.SaveData();
        QFAIL("a failed write was reported as success");
    } catch (const RegisterError& e) {
        QCOMPARE(e.message(), QStringLiteral("Stream write error"));
    }
    QCOMPARE(store.count(), 1003); // the change stays in memory
    QCOMPARE(readFile(dat), saved);
    QVERIFY(!QFile::exists(file.journalPath()));
    try {
        file.shutDown();
        QFAIL("a failed final write was reported as success");
    } catch (const RegisterError& e) {
        QCOMPARE(e.message(), QStringLiteral("Stream write error"));
    }
    QVERIFY(file.isHeld());
    QCOMPARE(readFile(bkd), backup);
    file.release();
    RecordStore again;
    DataFile next(again, dat, bkd);
    QCOMPARE(next.LoadData(), 0);
    QCOMPARE(ids(again), QList<qint32>({1, 2, 3}));
}

void TestDataFile::copyWorksInBlocksWithoutTruncating()
{
    QVERIFY(!DataFile::CopyDataFile(path("missing"), path("target")));
    QVERIFY(!QFile::exists(path("target")));
    QRandomGenerator rng(42);
    for (int size : {0, 1, 4095, 4096, 4097, 3 * 4096 + 17}) {
        QByteArray source(size, Qt::Uninitialized);
        for (char& c : source)
            c = char(rng.bounded(256));
        const QByteArray longer(size + 5000, 'T');
        QVERIFY(writeFile(path("source"), source));
        QVERIFY(writeFile(path("target"), longer));
        QVERIFY(DataFile::CopyDataFile(path("source"), path("target")));
        QCOMPARE(readFile(path("target")), source + longer.mid(size));
        QFile::remove(path("fresh"));
        QVERIFY(DataFile::CopyDataFile(path("source"), path("fresh")));
        QCOMPARE(readFile(path("fresh")), source);
        QVERIFY(QFileInfo(path("fresh")).isWritable());
    }
}

void TestDataFile::copyRefusesReadOnlyTarget()
{
    QVERIFY(writeFile(path("source"), registerBytes({1})));
    QVERIFY(writeFile(path("target"), QByteArray("old")));
    QVERIFY(QFile::setPermissions(path("target"), QFile::ReadOwner));
    QVERIFY(!DataFile::CopyDataFile(path("source"), path("target")));
    QCOMPARE(readFile(path("target")), QByteArray("old"));
}

void TestDataFile::fileHeldByAnotherProcessIsLeftAlone()
{
    const QByteArray bytes = registerBytes({0, 1, 2});
    QVERIFY(writeFile(path("Trinket.dat"), bytes));
    QVERIFY(writeFile(path("Trinket.bkd"), registerBytes({5})));
    {
        OtherProcess holder({QStringLiteral("hold"), path("Trinket.dat")});
        QCOMPARE(holder.answer, QStringLiteral("held"));

        RecordStore store;
        DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
        QCOMPARE(file.LoadData(), 2);
        QCOMPARE(file.createAnew().error(), QStringLiteral("Не могу создать файл данных"));
        QCOMPARE(file.restoreFromBackup().error(), QStringLiteral("Не могу восстановить файл данных"));
        QVERIFY(!DataFile::CopyDataFile(path("Trinket.dat"), path("copy")));
        HeldFile direct;
        QVERIFY(!direct.createAnew(path("Trinket.dat")));
        QCOMPARE(readFile(path("Trinket.dat")), bytes);

        // The backup is never held: it can be read meanwhile.
        QVERIFY(DataFile::CopyDataFile(path("Trinket.bkd"), path("copy")));
    }
    // The holder has ended; its lock went with it.
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({0, 1, 2}));
}

void TestDataFile::anotherProcessCannotTakeOurFile()
{
    const QByteArray bytes = registerBytes({0, 1});
    QVERIFY(writeFile(path("Trinket.dat"), bytes));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    {
        OtherProcess second({QStringLiteral("hold"), path("Trinket.dat")});
        QCOMPARE(second.answer, QStringLiteral("refused"));
    }
    {
        OtherProcess creator({QStringLiteral("create"), path("Trinket.dat")});
        QCOMPARE(creator.answer, QStringLiteral("refused"));
    }
    QCOMPARE(readFile(path("Trinket.dat")), bytes);
    file.shutDown();
    {
        OtherProcess creator({QStringLiteral("create"), path("Trinket.dat")});
        QCOMPARE(creator.answer, QStringLiteral("created"));
    }
    QCOMPARE(readFile(path("Trinket.dat")), QByteArray());
}

// A journal is replayed only over the file it was written for: in every block it covers, the
// file holds the save's old bytes or its new ones. Any other journal is set aside under a new
// name and the file loads as it stands; a torn or voided one is simply dropped.
void TestDataFile::leftoverJournalsAtLoad_data()
{
    QTest::addColumn<QByteArray>("file"); // what the data file holds at the next load
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<bool>("inStateFolder");
    QTest::addColumn<QByteArray>("loads");
    QTest::newRow("killed before the file was written")
        << QByteArray("old") << QByteArray("whole") << false << QByteArray("new");
    QTest::newRow("killed while the file was written")
        << QByteArray("mixed") << QByteArray("whole") << false << QByteArray("new");
    QTest::newRow("killed after the file was written")
        << QByteArray("new") << QByteArray("whole") << false << QByteArray("new");
    QTest::newRow("journal cut short") << QByteArray("old") << QByteArray("torn") << false << QByteArray("old");
    QTest::newRow("journal voided") << QByteArray("old") << QByteArray("voided") << false << QByteArray("old");
    QTest::newRow("journal head damaged") << QByteArray("old") << QByteArray("head") << false << QByteArray("old");
    QTest::newRow("journal body damaged") << QByteArray("old") << QByteArray("body") << false << QByteArray("old");
    QTest::newRow("file put back by hand")
        << QByteArray("other") << QByteArray("whole") << false << QByteArray("other");
    QTest::newRow("state folder, killed while written")
        << QByteArray("mixed") << QByteArray("whole") << true << QByteArray("new");
    QTest::newRow("state folder, file put back by hand")
        << QByteArray("other") << QByteArray("whole") << true << QByteArray("other");
}

void TestDataFile::leftoverJournalsAtLoad()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, journal);
    QFETCH(bool, inStateFolder);
    QFETCH(QByteArray, loads);
    QList<qint32> all;
    for (qint32 id = 1; id <= 400; ++id)
        all << id;
    QList<qint32> saved = all;
    saved.removeAt(1);
    const QByteArray old = registerBytes(all);
    const QMap<QByteArray, QList<qint32>> registers {{"old", all}, {"new", saved}, {"other", {7, 8}}};

    // A real save, its journal kept as the disk had it before the save voided it.
    QVERIFY(writeFile(path("Trinket.dat"), old));
    if (inStateFolder) // a folder in its place keeps the journal from beside the file
        QVERIFY(QDir().mkdir(path("Trinket.dat.journal")));
    RecordStore store;
    DataFile data(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(data.LoadData(), 0);
    store.locate(Field::ID_RECORD, 2);
    Editing::deleteCurrent(store);
    data.SaveData();
    const QString journalPath = inStateFolder ? data.stateJournalPath() : data.journalPath();
    QByteArray bytes = readFile(journalPath);
    QCOMPARE(bytes.left(8), QByteArray("TRKJRNL0"));
    const QByteArray afterSave = readFile(path("Trinket.dat"));
    data.release();
    QVERIFY(!QFile::exists(journalPath));
    if (inStateFolder)
        QVERIFY(QDir().rmdir(path("Trinket.dat.journal")));

    bytes[7] = journal == "voided" ? '0' : '1';
    if (journal == "torn")
        bytes.chop(1);
    else if (journal == "head")
        bytes[40] = char(bytes[40] ^ 1);
    else if (journal == "body")
        bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 1);
    QVERIFY(writeFile(journalPath, bytes));
    const QByteArray content = file == "old" ? old
        : file == "new"                      ? afterSave
        : file == "mixed"                    ? afterSave.left(4096) + old.mid(4096)
                                             : registerBytes({7, 8});
    QVERIFY(writeFile(path("Trinket.dat"), content));

    QCOMPARE(data.LoadData(), 0);
    QCOMPARE(ids(store), registers.value(loads));
    QVERIFY(!QFile::exists(journalPath));
    if (file == "other") {
        QCOMPARE(readFile(journalPath + QStringLiteral(".1")), bytes);
        QCOMPARE(readFile(path("Trinket.dat")), content);
        for (const QString& name : {journalPath, journalPath + QStringLiteral(".1"), path("Trinket.dat")})
            QVERIFY2(data.loadNotice().contains(QDir::toNativeSeparators(name)), qPrintable(data.loadNotice()));
    } else {
        QCOMPARE(data.loadNotice(), QString());
        if (loads == "new")
            QCOMPARE(readFile(path("Trinket.dat")), afterSave);
    }
}

// What is not a journal of this user's is left where it is, never replayed, and the saves go
// to the state folder instead.
void TestDataFile::strangeJournalsAreIgnored_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"link", "fifo", "folder", "oversized", "foreign"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestDataFile::strangeJournalsAreIgnored()
{
    QFETCH(QString, kind);
    const QString journal = path("Trinket.dat.journal");
    const QByteArray junk("TRKJRNL1 planted");
    QVERIFY(writeFile(path("elsewhere"), junk));
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(path("elsewhere"), journal));
    } else if (kind == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(QFile::encodeName(journal).constData(), 0644) == 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(journal));
    } else {
        QVERIFY(writeFile(journal, junk));
        if (kind == QLatin1String("oversized"))
            QVERIFY(QFile::resize(journal, SaveJournal::MaxSize + 1)); // sparse
        else if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        else
            QVERIFY(::chown(QFile::encodeName(journal).constData(), 65534, 65534) == 0);
    }
    const QFileInfo before(journal);

    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({1, 2, 3})));
    RecordStore store;
    DataFile data(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(data.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({1, 2, 3}));
    QVERIFY2(data.loadNotice().contains(QStringLiteral("пропущен")), qPrintable(data.loadNotice()));
    QVERIFY(data.loadNotice().contains(journal));
    store.locate(Field::ID_RECORD, 2);
    Editing::deleteCurrent(store);
    data.SaveData();
    QVERIFY(QFile::exists(data.stateJournalPath()));
    data.shutDown();
    QCOMPARE(data.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({1, 3}));
    const QFileInfo after(journal);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isDir(), before.isDir());
    QCOMPARE(after.size(), before.size());
    QCOMPARE(readFile(path("elsewhere")), junk);
}

// A folder that takes no new files, where the data file and its backup may still be written:
// the journal goes to the state folder and the backup is written over the old one in place.
void TestDataFile::folderThatTakesNoNewFiles_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("read-only folder") << true;
    QTest::newRow("names taken by folders") << false;
}

void TestDataFile::folderThatTakesNoNewFiles()
{
    QFETCH(bool, readOnlyFolder);
    if (readOnlyFolder && ::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    const QString folder = path("shared");
    QVERIFY(QDir().mkdir(folder));
    const QString dat = folder + QStringLiteral("/Trinket.dat");
    const QString bkd = folder + QStringLiteral("/Trinket.bkd");
    QVERIFY(writeFile(dat, registerBytes({1, 2, 3})));
    QVERIFY(writeFile(bkd, registerBytes({5, 6})));
    const QFile::Permissions open = QFile::permissions(folder);
    const auto undo = qScopeGuard([&] { QFile::setPermissions(folder, open); });
    if (readOnlyFolder) {
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else {
        QVERIFY(QDir().mkdir(dat + QStringLiteral(".journal")));
        QVERIFY(QDir().mkdir(bkd + QStringLiteral(".tmp")));
    }

    RecordStore store;
    DataFile data(store, dat, bkd);
    QCOMPARE(data.LoadData(), 0);
    store.locate(Field::ID_RECORD, 2);
    Editing::deleteCurrent(store);
    data.SaveData();
    QCOMPARE(data.restoreFromBackup().error(), QString());
    QCOMPARE(ids(store), QList<qint32>({5, 6}));
    QCOMPARE(data.createAnew().error(), QString());
    qint32 max = data.MaxRecordId;
    Editing::addRecord(store, max, "9", QByteArray());
    data.SaveData();
    data.shutDown();

    QCOMPARE(data.LoadData(), 0);
    QList<qint32> loaded = ids(store);
    std::sort(loaded.begin(), loaded.end());
    QCOMPARE(loaded, QList<qint32>({5, 6, 7}));
    data.release();
    const QByteArray saved = readFile(dat);
    QCOMPARE(readFile(bkd).left(saved.size()), saved);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), readOnlyFolder ? 2 : 4);
}

// The repairs write a file of their own where a link named like the data file was; what it
// pointed to is left as it was.
void TestDataFile::repairsReplaceALinkNamedLikeTheDataFile_data()
{
    QTest::addColumn<bool>("restore");
    QTest::newRow("restore") << true;
    QTest::newRow("create anew") << false;
}

void TestDataFile::repairsReplaceALinkNamedLikeTheDataFile()
{
    QFETCH(bool, restore);
    const QByteArray elsewhere = registerBytes({9, 9});
    QVERIFY(writeFile(path("elsewhere"), elsewhere));
    QVERIFY(QFile::link(path("elsewhere"), path("Trinket.dat")));
    QVERIFY(writeFile(path("Trinket.bkd"), registerBytes({4})));
    RecordStore store;
    DataFile data(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(data.LoadData(), 0);
    QCOMPARE((restore ? data.restoreFromBackup() : data.createAnew()).error(), QString());
    data.release();
    QCOMPARE(readFile(path("elsewhere")), elsewhere);
    QVERIFY(!QFileInfo(path("Trinket.dat")).isSymLink());
    QCOMPARE(readFile(path("Trinket.dat")), restore ? registerBytes({4}) : registerBytes({9, 9}));
}

// A FIFO, a device or a folder in a file's place is refused at once, never waited on.
void TestDataFile::onlyRegularFilesAreOpened()
{
    const QByteArray data = registerBytes({1, 2});
    QVERIFY(::mkfifo(QFile::encodeName(path("Trinket.bkd")).constData(), 0644) == 0);
    QVERIFY(writeFile(path("Trinket.dat"), QByteArray("junk")));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 2);
    QCOMPARE(file.restoreFromBackup().error(), QStringLiteral("Не могу восстановить файл данных"));
    QCOMPARE(readFile(path("Trinket.dat")), QByteArray("junk"));

    // The FIFO as the backup target of the exit: the copy refuses, nothing is written.
    QVERIFY(writeFile(path("Trinket.dat"), data));
    QCOMPARE(file.LoadData(), 0);
    file.shutDown();
    QVERIFY(QFileInfo(path("Trinket.bkd")).exists() && !QFileInfo(path("Trinket.bkd")).isFile());
    QVERIFY(!QFile::exists(path("Trinket.bkd.tmp")));

    for (const QString& odd : {path("Trinket.bkd"), QStringLiteral("/dev/null")}) {
        DataFile strange(store, odd, path("other.bkd"));
        QCOMPARE(strange.LoadData(), 2);
        QCOMPARE(strange.createAnew().error(), QStringLiteral("Не могу создать файл данных"));
        QVERIFY(!DataFile::CopyDataFile(odd, path("copy")));
        QVERIFY(!QFile::exists(path("copy")));
    }
    QVERIFY(QDir().mkdir(path("folder")));
    QVERIFY(!DataFile::CopyDataFile(path("Trinket.dat"), path("folder")));
}

void TestDataFile::backupLinkIsReplacedNotWrittenThrough()
{
    const QByteArray elsewhere = registerBytes({9, 9, 9});
    QVERIFY(writeFile(path("elsewhere"), elsewhere));
    QVERIFY(QFile::link(path("elsewhere"), path("Trinket.bkd")));
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({1})));
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    file.shutDown();
    QCOMPARE(readFile(path("elsewhere")), elsewhere);
    QVERIFY(!QFileInfo(path("Trinket.bkd")).isSymLink());
    QCOMPARE(readFile(path("Trinket.bkd")), readFile(path("Trinket.dat")));
}

// Files the tool makes under umask 0222 are still writable by their owner, so they load.
void TestDataFile::restrictiveUmask()
{
    const mode_t previous = ::umask(0222);
    const auto undo = qScopeGuard([&] { ::umask(previous); });
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.createAnew().error(), QString());
    qint32 max = file.MaxRecordId;
    Editing::addRecord(store, max, "1", QByteArray());
    file.SaveData();
    file.shutDown();
    for (const char* name : {"Trinket.dat", "Trinket.bkd"})
        QVERIFY(QFileInfo(path(name)).permissions() & QFileDevice::WriteOwner);
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({1}));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             QStringList({QStringLiteral("Trinket.bkd"), QStringLiteral("Trinket.dat")}));
}

void TestDataFile::numbersPastTheLargestAcrossARestart()
{
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({0, 2147483647, 1, 2})));
    QList<qint32> given;
    for (int run = 0; run < 2; ++run) {
        RecordStore store;
        DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
        QCOMPARE(file.LoadData(), 0);
        QCOMPARE(file.MaxRecordId, 2147483647);
        Editing::addRecord(store, file.MaxRecordId, QByteArray::number(run), QByteArray());
        given << store.asInteger(Field::ID_RECORD);
        file.shutDown();
    }
    QCOMPARE(given, QList<qint32>({3, 4}));
}

// Nothing past the end of the records is read, so a tail of any length does not matter.
void TestDataFile::validRegisterBeforeAHugeTailLoads()
{
    QVERIFY(writeFile(path("Trinket.dat"), registerBytes({1, 2})));
    QVERIFY(QFile::resize(path("Trinket.dat"), 3LL << 30)); // sparse: no room is taken
    RecordStore store;
    DataFile file(store, path("Trinket.dat"), path("Trinket.bkd"));
    QCOMPARE(file.LoadData(), 0);
    QCOMPARE(ids(store), QList<qint32>({1, 2}));
    file.SaveData();
    QCOMPARE(QFileInfo(path("Trinket.dat")).size(), 3LL << 30);
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_datafile.moc"
