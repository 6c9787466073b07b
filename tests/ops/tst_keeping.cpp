// What the installer keeps of a controller, below the windows: journal files, cell meanings,
// the memory compare, the serial trace and the read-back after a parameter write.
#include "device/controller.h"
#include "device/deviceerror.h"
#include "device/ops/keptfiles.h"
#include "device/ops/memoryimage.h"
#include "device/ops/service.h"
#include "device/ops/zoneparams.h"
#include "device/serialtrace.h"
#include "tests/support/fixtures.h"
#include "tests/support/simulatedcontroller.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace DeviceOps;

using Fixtures::hex;

namespace {

QByteArray utf8(const char* text)
{
    return QByteArray(text);
}

} // namespace

class TestKeeping : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void journalFiles();
    void names();
    void cellMeanings_data();
    void cellMeanings();
    void compareAfterTheMemoryChanged();
    void traceLines();
    void oldTraceFilesGo();
    void traceIsTheOwnersOnly();
    void traceRefusesWhatIsNotItsOwn_data();
    void traceRefusesWhatIsNotItsOwn();
    void readBackFindsADroppedWrite();

private:
    std::unique_ptr<SimulatedController> m_rig;
};

void TestKeeping::init()
{
    m_rig = std::make_unique<SimulatedController>();
    QString error;
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void TestKeeping::cleanup()
{
    m_rig.reset();
}

void TestKeeping::journalFiles()
{
    const QList<JournalEntry> entries {{0, 0x63, 1500}, {1, 0x00, 0}};
    QCOMPARE(KeptFiles::textFile({journalLine(0x63, 1500), journalLine(0x00, 0)}),
             utf8("\xEF\xBB\xBF"
                  "Взятие (3), прошло 1дн 1ч 0мин c начала работы\r\n"
                  "Unknown, прошло 0дн 0ч 0мин c начала работы\r\n"));
    QCOMPARE(KeptFiles::journalCsv(entries),
             utf8("\xEF\xBB\xBF"
                  "№;Код;Событие;Минуты;Время\r\n"
                  "0;99;Взятие (3);1500;1дн 1ч 0мин\r\n"
                  "1;0;Unknown;0;0дн 0ч 0мин\r\n"));
    QCOMPARE(KeptFiles::csvField(QStringLiteral("a;b\"c")), QStringLiteral("\"a;b\"\"c\""));
    QCOMPARE(KeptFiles::csvField(QStringLiteral("a\nb")), QStringLiteral("\"a\nb\""));
}

void TestKeeping::names()
{
    QCOMPARE(KeptFiles::folderName(QStringLiteral(" 12/3:A* ")), QStringLiteral("12_3_A_"));
    QCOMPARE(KeptFiles::folderName(QStringLiteral("..")), QStringLiteral("__")); // never a way up
    for (const auto& [number, folder] :
         std::initializer_list<std::pair<const char*, const char*>> {{".hidden", "_hidden"},
                                                                     {"CON", "CON_"},
                                                                     {"nul.1", "nul_.1"},
                                                                     {"com9", "com9_"},
                                                                     {"LPT1 .x", "LPT1_ .x"},
                                                                     {"COM10", "COM10"},
                                                                     {"CONSOLE", "CONSOLE"},
                                                                     {"AUX-2", "AUX-2"}})
        QCOMPARE(KeptFiles::folderName(QLatin1String(number)), QLatin1String(folder));
    QCOMPARE(KeptFiles::folderName(QString()), QStringLiteral("_"));
    QCOMPARE(KeptFiles::imageStamp(QDateTime(QDate(2026, 3, 7), QTime(9, 5, 4))), QStringLiteral("2026-03-07_090504"));
    QCOMPARE(KeptFiles::journalBaseName(QStringLiteral("101"), QDate(2026, 12, 9)),
             QStringLiteral("Журнал_101_2026-12-09"));

    QTemporaryDir dir;
    // The dump text is never the image itself, also not through a link.
    const QString bin = dir.filePath(QStringLiteral("m.bin"));
    QCOMPARE(KeptFiles::dumpTextPath(bin), dir.filePath(QStringLiteral("m.txt")));
    QCOMPARE(KeptFiles::dumpTextPath(dir.filePath(QStringLiteral("i.txt"))), dir.filePath(QStringLiteral("i.txt.txt")));
    QVERIFY(Fixtures::writeFile(bin, "x") && QFile::link(bin, dir.filePath(QStringLiteral("m.txt"))));
    QCOMPARE(KeptFiles::dumpTextPath(bin), dir.filePath(QStringLiteral("m.txt.txt")));

    QVERIFY(KeptFiles::writeFile(dir.filePath(QStringLiteral("a.bin")), QByteArray(255, 'x')));
    const Expected<QByteArray> image = KeptFiles::readImage(dir.filePath(QStringLiteral("a.bin")));
    QVERIFY(!image && image.error().startsWith(QStringLiteral("Файл не является образом EEPROM (256 байт)")));
}

void TestKeeping::cellMeanings_data()
{
    QTest::addColumn<int>("map"); // 0: QM407, 1: QM407 1.1, 2: QM407M
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("meaning");
    QTest::newRow("QM407 zone 1 mode") << 0 << 2 << QStringLiteral("зона 1, режим");
    QTest::newRow("QM407 zone 3 delay") << 0 << 7 << QStringLiteral("зона 3, задержка");
    QTest::newRow("QM407 exit delay") << 0 << 8 << QStringLiteral("задержка на выход");
    QTest::newRow("QM407 master low") << 0 << 9 << QStringLiteral("брелок, слот 0 (мастер), младший байт");
    QTest::newRow("QM407 slot 3 high") << 0 << 20 << QStringLiteral("брелок, слот 3, старший байт");
    QTest::newRow("QM407 flags") << 0 << 21 << QStringLiteral("флаги");
    QTest::newRow("QM407 counter middle") << 0 << 66 << QStringLiteral("счетчик наработки, средний байт");
    QTest::newRow("QM407 zeroed") << 0 << 68 << QStringLiteral("ячейка, обнуляемая записью параметров");
    QTest::newRow("QM407 unnamed") << 0 << 22 << QString();
    QTest::newRow("1.1 zone 1 mode") << 1 << 4 << QStringLiteral("зона 1, режим");
    QTest::newRow("1.1 cell 2") << 1 << 2 << QString();
    QTest::newRow("QM407M zone 4 mode") << 2 << 8 << QStringLiteral("зона 4, режим");
    QTest::newRow("QM407M zone 7 delay") << 2 << 15 << QStringLiteral("зона 7, задержка");
    QTest::newRow("QM407M counter high") << 2 << 91 << QStringLiteral("счетчик наработки, старший байт");
}

void TestKeeping::cellMeanings()
{
    QFETCH(int, map);
    QFETCH(int, address);
    QFETCH(QString, meaning);
    const MemoryMap maps[] = {MemoryMap::qm407(), MemoryMap::qm407v11(), MemoryMap::qm407m()};
    QCOMPARE(cellMeaning(maps[map], address), meaning);
}

void TestKeeping::compareAfterTheMemoryChanged()
{
    Qm407Simulator& sim = m_rig->sim;
    for (int a = 0; a < 256; ++a)
        sim.setCell(a, quint8(a));
    QStringList lines;
    QByteArray before;
    dumpMemory(m_rig->controller, lines, &before);
    QCOMPARE(before.size(), 256);
    QCOMPARE(lines.first(), QStringLiteral("0000  00 01 02 03 04 05 06 07 "));

    sim.setCell(21, 0x05);
    sim.setCell(200, 0x00);
    QByteArray after;
    dumpMemory(m_rig->controller, lines, &after);
    const QList<CellDifference> differences = compareImages(before, after);
    QCOMPARE(differences.size(), 2);
    QCOMPARE(comparisonText(differences, MemoryMap::qm407(), QStringLiteral("2026-12-09_101500.bin")),
             QStringLiteral("Образец: 2026-12-09_101500.bin\n"
                            "Карта памяти: QM407\n"
                            "Отличаются ячеек: 2\n"
                            "0x15 (21): образец 15, устройство 05 — флаги\n"
                            "0xC8 (200): образец C8, устройство 00"));
    QCOMPARE(comparisonText({}, MemoryMap::qm407m(), QStringLiteral("a.bin")),
             QStringLiteral("Образец: a.bin\nКарта памяти: QM407M\nОтличий нет"));
}

void TestKeeping::traceLines()
{
    QTemporaryDir folder;
    SerialTrace trace(folder.path());
    m_rig->link.setTrace(&trace);
    Qm407Simulator& sim = m_rig->sim;
    sim.setCell(5, 7);
    QLoggingCategory::setFilterRules(QStringLiteral("qm407.serial.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} -> 53 14 05$")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(" <- 07 55$")));
    QCOMPARE(m_rig->controller.ReadByte(5), 7);
    QLoggingCategory::setFilterRules(QString());

    Qm407Simulator::Fault fault;
    fault.kind = Qm407Simulator::Fault::NoReply;
    sim.setFault(0x14, fault);
    QVERIFY_THROWS_EXCEPTION(DeviceError, m_rig->controller.ReadByte(5));
    fault.kind = Qm407Simulator::Fault::WrongAck;
    fault.ackByte = 'X';
    sim.setFault(0x14, fault);
    QVERIFY_THROWS_EXCEPTION(DeviceError, m_rig->controller.ReadByte(5));
    m_rig->link.setTrace(nullptr);

    QFile file(folder.filePath(SerialTrace::fileName(QDate::currentDate())));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList stamped = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QStringList lines;
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    for (const QString& line : stamped) {
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        lines << line.mid(13);
    }
    QCOMPARE(lines,
             (QStringList {QStringLiteral("-> 53 14 05"), QStringLiteral("<- 07 55"), QStringLiteral("-> 53 14 05"),
                           QStringLiteral("<- (тайм-аут, 0 из 2 байт)"), QStringLiteral("!! Нет ответа от QM407"),
                           QStringLiteral("-> 53 14 05"), QStringLiteral("<- 07 58"),
                           QStringLiteral("!! Ошибка чтения данных из EEPROM")}));
}

namespace {
int modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}
} // namespace

// Whatever the umask: the folder made 0700 with its parents as usual, the log 0600; a folder and
// a log an older version left open to others are closed.
void TestKeeping::traceIsTheOwnersOnly()
{
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("state/qm407tool"));
    const QString log = folder + u'/' + SerialTrace::fileName(QDate::currentDate());
    const mode_t umask = ::umask(0);
    {
        SerialTrace trace(folder);
        trace.sent(hex("5310"));
    }
    ::umask(umask);
    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(log), 0600);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(log).constData(), 0644) == 0);
    {
        SerialTrace trace(folder);
        trace.sent(hex("5310"));
    }
    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(log), 0600);
    QCOMPARE(Fixtures::readFile(log).count("-> 53 10\n"), 2);
}

void TestKeeping::traceRefusesWhatIsNotItsOwn_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("FIFO as the log") << QStringLiteral("fifo");
    QTest::newRow("link as the log") << QStringLiteral("log link");
    QTest::newRow("link as the folder") << QStringLiteral("folder link");
}

// Nothing blocks, nothing is written through a link, and the failure is reported once.
void TestKeeping::traceRefusesWhatIsNotItsOwn()
{
    QFETCH(QString, planted);
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("trace"));
    const QString other = base.filePath(QStringLiteral("other"));
    const QString log = folder + u'/' + SerialTrace::fileName(QDate::currentDate());
    QVERIFY(QDir().mkdir(other));
    if (planted == QLatin1String("folder link")) {
        QVERIFY(QFile::link(other, folder));
    } else {
        QVERIFY(QDir().mkdir(folder));
        if (planted == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(other + QStringLiteral("/x.log"), log));
    }
    QStringList reports;
    {
        SerialTrace trace(folder, [&reports](const QString& message) { reports << message; });
        trace.sent(hex("5310"));
        trace.sent(hex("5310"));
    }
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].startsWith(QStringLiteral("Не могу записать трассировку обмена в ")), qPrintable(reports[0]));
    QCOMPARE(QDir(other).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), QStringList());
}

void TestKeeping::oldTraceFilesGo()
{
    QTemporaryDir folder;
    const QStringList names {QStringLiteral("serial-2026-11-08.log"), QStringLiteral("serial-2026-11-09.log"),
                             QStringLiteral("serial-2026-12-09.log"), QStringLiteral("notes.log")};
    for (const QString& name : names)
        QVERIFY(KeptFiles::writeFile(folder.filePath(name), "x"));
    SerialTrace::removeOld(folder.path(), QDate(2026, 12, 9));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files, QDir::Name),
             (QStringList {QStringLiteral("notes.log"), QStringLiteral("serial-2026-11-09.log"),
                           QStringLiteral("serial-2026-12-09.log")}));
}

void TestKeeping::readBackFindsADroppedWrite()
{
    Qm407Simulator& sim = m_rig->sim;
    Qm407Simulator::Fault dropped;
    dropped.kind = Qm407Simulator::Fault::DropWrite;
    dropped.afterCount = 2;
    dropped.times = 1;
    sim.setFault(0x13, dropped);
    ZoneParams params;
    params.modes = {1, 2, 5, 0, 0, 0, 0};
    params.delays = {30, 0, 10, 0, 0, 0, 0};
    params.closeDelay = 30;
    params.enBypass = true;
    Controller& controller = m_rig->controller;
    controller.DefineModel();
    writeZoneParams(controller, params, 3);
    const QList<CellDifference> differences = readBack(controller, zoneParamCells(controller.memoryMap(), params, 3));
    QCOMPARE(readBackReport(differences, controller.memoryMap()),
             QStringLiteral("Параметры записаны не полностью, ячейки:\n"
                            "0x04 (4): записано 02, прочитано 00 — зона 2, режим"));
    // Every written cell is read back, in the order written, after the checksum request.
    QByteArray reads;
    for (int cell : {2, 3, 4, 5, 6, 7, 8, 21, 68})
        reads += hex("5314") + char(cell);
    QVERIFY(sim.received().endsWith(hex("5315") + reads));
}

QTEST_GUILESS_MAIN(TestKeeping)
#include "tst_keeping.moc"
