// The register as a spreadsheet file: export, import round trips, refusals and hostile files.
#include "register/editing.h"
#include "register/recordstore.h"
#include "register/registercsv.h"
#include "register/text1251.h"
#include "tests/support/fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using Fixtures::cp;

namespace {

Record rec(qint32 id, const QByteArray& number, const QByteArray& address, qint64 trink = -1, qint64 trinkD = -1)
{
    Record r;
    r.setInteger(Field::ID_RECORD, id);
    r.setText(Field::PULT_NUM, number);
    r.setText(Field::ADDRESS, address);
    if (trink >= 0) {
        r.setInteger(Field::ID_TRINK, qint32(trink));
        r.setText(Field::CODE, trink ? Editing::TrinketCode(quint32(trink)).toLatin1() : QByteArray(""));
    }
    if (trinkD >= 0) {
        r.setInteger(Field::ID_TRINK_D, qint32(trinkD));
        r.setText(Field::CODE_D, Editing::TrinketCode(quint32(trinkD)).toLatin1());
    }
    return r;
}

// Master, then records whose fields hold what a spreadsheet file must quote.
void fillTricky(RecordStore& s)
{
    Fixtures::fillWorkedExample(s); // master and 105 "ул. Мира, 7" with 0x2B7E53
    s.append(rec(7, cp("абв-12"), cp("пр. \"Победы\"; д. 3"), 0x1234A3, 0x0FFFF3));
    s.append(rec(3, "B 7", cp("корп. 2\r\nподъезд 4\nкв. 9"), 0)); // an erased trinket
    s.append(rec(4, "X", cp(";\"\";,")));
}

QString pathIn(const QTemporaryDir& dir, const char* name)
{
    return dir.filePath(QLatin1String(name));
}

QByteArray exported(const RecordStore& s)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return RegisterCsv::write(s, buffer) ? buffer.data() : QByteArray();
}

QStringList reasonsOf(const RegisterCsv::ImportPlan& plan)
{
    QStringList list;
    for (const RegisterCsv::ImportRow& row : plan.rows)
        list << row.refusal;
    return list;
}

const char Header[] = "N;Пульт. N;Адрес;Брелок 2;Брелок 3;Брелок 2 (число);Брелок 3 (число)\r\n";

} // namespace

class TestRegisterCsv : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void exportBytes();
    void roundTrips_data();
    void roundTrips();
    void numberingPastTheLargest();
    void formulaCells();
    void refusals();
    void hostileFiles();
};

void TestRegisterCsv::exportBytes()
{
    RecordStore s;
    fillTricky(s);
    const QByteArray bytes = exported(s);
    const QByteArray expected = QByteArray("\xEF\xBB\xBF") + Header
        + "0;MASTER;;XX??01100X;;5913619;\r\n"
          "1;105;ул. Мира, 7;0??1X11?XX;;2850387;\r\n"
          "3;B 7;\"корп. 2\r\nподъезд 4\nкв. 9\";;;0;\r\n"
          "4;X;\";\"\"\"\";,\";;;;\r\n"
          "7;абв-12;\"пр. \"\"Победы\"\"; д. 3\";0X0?01X0??;0011111111;1193123;1048563\r\n";
    QCOMPARE(QString::fromUtf8(bytes), QString::fromUtf8(expected));
    // Written through a save file, as the menu item does.
    QSaveFile file(pathIn(m_dir, "out.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(RegisterCsv::write(s, file) && file.commit());
    QCOMPARE(Fixtures::readFile(pathIn(m_dir, "out.csv")), bytes);
}

void TestRegisterCsv::roundTrips_data()
{
    QTest::addColumn<QString>("variant");
    QTest::newRow("as exported") << QStringLiteral("utf8");
    QTest::newRow("commas, Windows-1251, no raw codes") << QStringLiteral("1251");
    QTest::newRow("UTF-16 little-endian with its mark") << QStringLiteral("utf16le");
    QTest::newRow("UTF-16 big-endian with its mark") << QStringLiteral("utf16be");
}

void TestRegisterCsv::roundTrips()
{
    QFETCH(QString, variant);
    RecordStore source;
    fillTricky(source);
    QByteArray bytes = exported(source);
    if (variant == QLatin1String("1251")) {
        // What a spreadsheet saves as CSV in a Russian Windows: the same table, ',' and no BOM.
        QByteArray text = QByteArray(Header).replace(";Брелок 2 (число);Брелок 3 (число)", "").replace(';', ',')
            + "0,MASTER,,XX??01100X,\r\n"
              "1,105,\"ул. Мира, 7\",0??1X11?XX,\r\n"
              "3,B 7,\"корп. 2\r\nподъезд 4\nкв. 9\",,\r\n"
              "4,X,\";\"\"\"\";,\",,\r\n"
              "7,абв-12,\"пр. \"\"Победы\"\"; д. 3\",0X0?01X0??,0011111111\r\n";
        bytes = Text1251::fromUnicode(QString::fromUtf8(text));
    } else if (variant.startsWith(QLatin1String("utf16"))) {
        const bool little = variant == QLatin1String("utf16le");
        QStringEncoder encode(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        bytes = QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encode(QString::fromUtf8(bytes.mid(3))));
    }
    const QString path = pathIn(m_dir, "in.csv");
    QVERIFY(Fixtures::writeFile(path, bytes));

    RecordStore target;
    target.append(rec(9, "900", "old"));
    const RegisterCsv::ImportPlan plan = RegisterCsv::plan(path, target);
    QVERIFY2(plan.error.isEmpty(), qPrintable(plan.error));
    QCOMPARE(plan.utf8, variant != QLatin1String("1251"));
    QCOMPARE(reasonsOf(plan), (QStringList {QStringLiteral("Запись брелка-мастера не переносится"), {}, {}, {}, {}}));
    QCOMPARE(target.count(), 1); // planning changes nothing
    qint32 maxId = 9;
    RegisterCsv::apply(target, maxId, plan);
    QCOMPARE(maxId, 13);
    QCOMPARE(target.count(), 5);
    // Appended in file order with the next numbers; every field as it was, the trinket raw code
    // rebuilt from the pattern with button '1' where the file has none.
    const std::vector<Record> expected = {
        rec(9, "900", "old"),
        rec(10, "105", cp("ул. Мира, 7"), 0x2B7E53),
        rec(11, "B 7", cp("корп. 2\r\nподъезд 4\nкв. 9"), variant != QLatin1String("1251") ? 0 : -1),
        rec(12, "X", cp(";\"\";,")),
        rec(13, cp("АБВ-12"), cp("пр. \"Победы\"; д. 3"), 0x1234A3, 0x0FFFF3),
    };
    for (int i = 0; i < 5; ++i)
        QVERIFY2(target.at(i) == expected[size_t(i)], qPrintable(QString::number(i)));
}

void TestRegisterCsv::numberingPastTheLargest()
{
    // The add operation's rule: past 2147483647 the lowest free numbers, the largest kept.
    RecordStore s;
    s.append(rec(2147483646, "A", ""));
    s.append(rec(2, "B", ""));
    QVERIFY(Fixtures::writeFile(pathIn(m_dir, "next.csv"), QByteArray(Header) + ";C;;;;;\r\n;D;;;;;\r\n;E;;;;;\r\n"));
    qint32 maxId = 2147483646;
    RegisterCsv::apply(s, maxId, RegisterCsv::plan(pathIn(m_dir, "next.csv"), s));
    QCOMPARE(maxId, 2147483647);
    QList<qint32> ids;
    for (const Record& r : s.rows())
        ids << r.asInteger(Field::ID_RECORD);
    QCOMPARE(ids, (QList<qint32> {2147483646, 2, 2147483647, 1, 3}));
}

// Cells a spreadsheet would run get an apostrophe before them, taken off again on import: the
// register comes back as it was.
void TestRegisterCsv::formulaCells()
{
    RecordStore source;
    source.append(rec(1, "=1+2", cp("-ул. Мира")));
    source.append(rec(2, "'@A", "'x"));
    source.append(rec(3, "+7", "\t=a\r"));
    const QByteArray bytes = exported(source);
    QCOMPARE(bytes.mid(bytes.indexOf("\r\n") + 2),
             QByteArray("1;'=1+2;'-ул. Мира;;;;\r\n2;''@A;'x;;;;\r\n3;'+7;\"'\t=a\r\";;;;\r\n"));
    QVERIFY(Fixtures::writeFile(pathIn(m_dir, "formulas.csv"), bytes));
    RecordStore target;
    qint32 maxId = 0;
    RegisterCsv::apply(target, maxId, RegisterCsv::plan(pathIn(m_dir, "formulas.csv"), target));
    QCOMPARE(target.count(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(target.at(i).asText(Field::PULT_NUM), source.at(i).asText(Field::PULT_NUM));
        QCOMPARE(target.at(i).asText(Field::ADDRESS), source.at(i).asText(Field::ADDRESS));
    }
}

void TestRegisterCsv::refusals()
{
    RecordStore s;
    Fixtures::fillWorkedExample(s); // MASTER with 0x5A3C13, 105 with 0x2B7E53
    const QString long32 = QString(32, QLatin1Char('N'));
    const QString long80 = QString(80, QChar(0x0416)); // Ж
    const QString rows = QStringLiteral("Пульт. N;Адрес;N;Брелок 2;Брелок 3\r\n"); // wrong header order
    QVERIFY(Fixtures::writeFile(pathIn(m_dir, "header.csv"), rows.toUtf8() + "1;2;3;4;5\r\n"));
    QCOMPARE(RegisterCsv::plan(pathIn(m_dir, "header.csv"), s).error,
             QStringLiteral("Первая строка файла не заголовок реестра: ожидаются столбцы N; Пульт. N; Адрес; "
                            "Брелок 2; Брелок 3; Брелок 2 (число); Брелок 3 (число)"));

    const QString text = QString::fromUtf8(Header)
        + QStringLiteral("; 105 ;а;;;;\r\n" // the register's number, once normalised
                         ";  мира  ;б;;;;\r\n" // normalised to МИРА
                         ";Мира;в;;;;\r\n"
                         ";   ;г;;;;\r\n"
                         ";%1;д;;;;\r\n"
                         ";%1N;е;;;;\r\n"
                         ";A1;%2;;;;\r\n"
                         ";A2;%2Ж;;;;\r\n"
                         ";A3;;0X1X0X10XZ;;;\r\n"
                         ";A4;;0??1X11?XX;;2850371;\r\n" // pattern and raw code disagree
                         ";A5;;;;;99999999\r\n"
                         ";A6;;;;;2850387\r\n" // the trinket of 105
                         ";A7;;x?1X0X10X?;;;\r\n"
                         ";A8;;;;7150691;\r\n" // A7's trinket, from its pattern with button '1'
                         ";A9;中;;;;\r\n"
                         ";B1;;\r\n"
                         ";B2;;0000000000;;0;\r\n"
                         ";B\x01"
                         "3;;;;;\r\n"
                         ";B4;a\x1B[2Jb;;;;\r\n")
              .arg(long32, long80);
    QVERIFY(Fixtures::writeFile(pathIn(m_dir, "refused.csv"), text.toUtf8()));
    const RegisterCsv::ImportPlan plan = RegisterCsv::plan(pathIn(m_dir, "refused.csv"), s);
    QVERIFY2(plan.error.isEmpty(), qPrintable(plan.error));
    QCOMPARE(reasonsOf(plan),
             (QStringList {QStringLiteral("Такой пультовой номер уже существует"),
                           {},
                           QStringLiteral("Пультовой номер повторяется в файле (строка 3)"),
                           QStringLiteral("Не введен пультовой номер"),
                           {},
                           QStringLiteral("Пультовой номер длиннее 32 знаков"),
                           {},
                           QStringLiteral("Адрес длиннее 80 знаков"),
                           QStringLiteral("Неверный код брелка 2"),
                           QStringLiteral("Код брелка 2 не соответствует его числу"),
                           QStringLiteral("Неверное число брелка 3"),
                           QStringLiteral("Брелок с таким кодом уже есть в реестре"),
                           {},
                           QStringLiteral("Код брелка повторяется в файле (строка 14)"),
                           QStringLiteral("Знаки, которых нет в кодировке Windows-1251"),
                           QStringLiteral("Неверное число полей: 4 вместо 7"),
                           QStringLiteral("Код брелка 2 не соответствует его числу"),
                           QStringLiteral("Управляющие знаки в пультовом номере"),
                           QStringLiteral("Управляющие знаки в адресе")}));
    QCOMPARE(plan.rows[1].number, QStringLiteral("МИРА"));
    QCOMPARE(plan.rows[12].code, QStringLiteral("X?1X0X10X?"));
    QCOMPARE(plan.rows[16].line, 18);
    QCOMPARE(plan.accepted(), 4);
    QCOMPARE(s.count(), 2);
}

void TestRegisterCsv::hostileFiles()
{
    RecordStore s;
    Fixtures::fillWorkedExample(s);
    const auto errorOf = [&s, this](const char* name, const QByteArray& bytes, const RegisterCsv::Limits& limits = {}) {
        const QString path = pathIn(m_dir, name);
        if (!bytes.isNull() && !Fixtures::writeFile(path, bytes))
            return QStringLiteral("not written");
        return RegisterCsv::plan(path, s, limits).error;
    };

    QByteArray binary = Fixtures::workedExampleBytes();
    QCOMPARE(errorOf("binary.csv", binary), QStringLiteral("Файл не является текстом CSV"));

    {
        // 1 GB without using the disk: refused by its size before anything is read.
        QFile huge(pathIn(m_dir, "huge.csv"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30));
    }
    QCOMPARE(errorOf("huge.csv", QByteArray()), QStringLiteral("Файл больше 16 МБ: это не реестр"));

    const QByteArray header = QByteArray(Header);
    QCOMPARE(errorOf("line.csv", header + QByteArray(10 * 1024 * 1024, 'a') + "\r\n"),
             QStringLiteral("Строка 2 длиннее 16384 байт"));
    QCOMPARE(errorOf("quote.csv", header + ";7;\"ул. Мира;;;;\r\n;8;x;;;;\r\n"),
             QStringLiteral("Незакрытая кавычка в строке 2"));
    // An unclosed quote early in a long file ends at the record limit, not at the end of the file.
    QCOMPARE(errorOf("quote2.csv", header + ";7;\"a;;;;\r\n" + QByteArray(20000, '\n')),
             QStringLiteral("Незакрытая кавычка в строке 2"));
    QCOMPARE(errorOf("stray.csv", header + ";7;ул. \"Мира\";;;;\r\n"),
             QStringLiteral("Кавычка внутри поля без кавычек в строке 2"));
    QCOMPARE(errorOf("after.csv", header + ";7;\"Мира\"x;;;;\r\n"),
             QStringLiteral("Лишний знак после закрывающей кавычки в строке 2"));
    QCOMPARE(errorOf("empty.csv", header), QStringLiteral("В файле нет записей"));
    RegisterCsv::Limits few;
    few.maxRows = 2;
    QCOMPARE(errorOf("rows.csv", header + ";1;;;;;\r\n;2;;;;;\r\n;3;;;;;\r\n", few),
             QStringLiteral("В файле больше 2 записей"));
    // Encodings told precisely.
    QCOMPARE(errorOf("byte.csv",
                     header
                         + ";Мира;ул. Садовая;;;;\r\n;X;a\xFF"
                           "b;;;;\r\n"),
             QStringLiteral("Неверный байт UTF-8 в строке 3"));
    QCOMPARE(errorOf("mark.csv", "\xEF\xBB\xBF" + cp(Header) + cp(";МИР;ул. Мира;;;;\r\n")),
             QStringLiteral("Файл помечен как UTF-8, но записан в Windows-1251"));
    QStringEncoder utf16(QStringConverter::Utf16LE);
    QCOMPARE(errorOf("utf16.csv", utf16(QString::fromUtf8(header + ";1;ул. Мира;;;;\r\n"))),
             QStringLiteral("Файл в кодировке UTF-16 без метки порядка байтов"));
    QCOMPARE(errorOf("surrogate.csv",
                     QByteArray("\xFF\xFE"
                                "N\0\0\xD8;\0",
                                8)),
             QStringLiteral("Неверные знаки в файле UTF-16"));
    QCOMPARE(errorOf("missing.csv", QByteArray()).left(21), QStringLiteral("Не могу открыть файл "));
#ifdef Q_OS_UNIX
    // A FIFO without a writer is refused at once instead of waiting for one.
    QCOMPARE(::mkfifo(QFile::encodeName(pathIn(m_dir, "fifo.csv")).constData(), 0600), 0);
    QCOMPARE(errorOf("fifo.csv", QByteArray()).left(21), QStringLiteral("Не могу открыть файл "));
    QCOMPARE(s.count(), 2);
#endif
}

QTEST_GUILESS_MAIN(TestRegisterCsv)
#include "tst_registercsv.moc"
