#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/registererror.h"
#include "register/text1251.h"
#include "tests/support/fixtures.h"

#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cstring>

using Fixtures::cp;
using Fixtures::hex;

namespace {

// Reads the bytes into a fresh register; the error text, or "" when it loaded.
QString load(RecordStore& s, const QByteArray& bytes)
{
    try {
        DataFormat::read(s, bytes);
        return QString();
    } catch (const RegisterError& e) {
        return e.message();
    }
}

// Reads the bytes as a file is read: pieces of at most `piece` bytes, and a failed read at
// `failAt` when that is not -1.
struct Piecewise
{
    QString error;
    qint64 taken = -1;
    qint64 fetched = 0;
};
Piecewise loadPiecewise(RecordStore& s, const QByteArray& bytes, qint64 piece, qint64 failAt)
{
    Piecewise p;
    const DataFormat::Fetch fetch = [&](char* buffer, qint64 max) -> qint64 {
        if (p.fetched == failAt)
            return -1;
        const qint64 end = failAt < 0 ? bytes.size() : failAt;
        const qint64 n = std::min({max, piece, end - p.fetched});
        std::memcpy(buffer, bytes.constData() + p.fetched, size_t(n));
        p.fetched += n;
        return n;
    };
    try {
        p.taken = DataFormat::read(s, fetch);
    } catch (const RegisterError& e) {
        p.error = e.message();
    }
    return p;
}

// Some 3 MB of records, then one with a 3 MiB text, then an 8 MiB tail that must stay unread.
const QByteArray& piecewiseFile()
{
    static const QByteArray file = [] {
        RecordStore s;
        QRandomGenerator rng(16);
        for (int i = 0; i < 20000; ++i)
            s.append(Fixtures::randomRecord(rng));
        QByteArray bytes = DataFormat::write(s);
        bytes.chop(1);
        return bytes + hex("01 02 00 09 09 09 09 09 08 0C 00 00 30 00") + QByteArray(3 << 20, 'Z') + hex("09 00 00")
            + QByteArray(8 << 20, '\xFF');
    }();
    return file;
}

QByteArray oneRecord(const char* fieldsHex)
{
    return hex("54 50 46 30 03 FB 00 01 00 01 00 01 01 02 00") + hex(fieldsHex) + hex("00 00");
}

QByteArray withInteger(qint32 v)
{
    RecordStore s;
    Record r;
    r.setInteger(Field::ID_TRINK, v);
    s.append(r);
    const QByteArray bytes = DataFormat::write(s);
    // The value sits after: header (12), list (1), status (2), ID_RECORD null (1), present flag (1).
    return bytes.mid(17, bytes.size() - 17 - 7);
}

} // namespace

class TestDataFormat : public QObject
{
    Q_OBJECT

private slots:
    void emptyRegisterIsThirteenBytes();
    void workedExampleIsWrittenByteForByte();
    void workedExampleLoadsWithItsNulls();
    void integersTakeTheShortestTag();
    void textTags_data();
    void textTags();
    void longAndWideTextsAreAccepted();
    void utf8TextsReadAsTheCodecConvertsThem_data();
    void utf8TextsReadAsTheCodecConvertsThem();
    void anyOtherNullFlagMeansAValueFollows();
    void staleTailIsNeverRead();
    void errorsKeepCompletedRecords_data();
    void errorsKeepCompletedRecords();
    void everyCutFailsWithReadError();
    void lyingLengthsFailWithoutAllocating();
    void randomRegistersRoundTrip();
    void readingInPiecesMatchesReadingWhole_data();
    void readingInPiecesMatchesReadingWhole();
};

void TestDataFormat::emptyRegisterIsThirteenBytes()
{
    RecordStore s;
    QCOMPARE(DataFormat::write(s), hex("54 50 46 30 03 FB 00 01 00 01 00 01 00"));
    RecordStore loaded;
    QCOMPARE(DataFormat::read(loaded, hex("54 50 46 30 03 FB 00 01 00 01 00 01 00")), qint64(13));
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(DataFormat::read(loaded, QByteArray()), qint64(0)); // a zero-length file is an empty register
    s.deactivate();
    QVERIFY_THROWS_EXCEPTION(RegisterError, DataFormat::write(s));
}

void TestDataFormat::workedExampleIsWrittenByteForByte()
{
    RecordStore s;
    Fixtures::fillWorkedExample(s);
    s.last();
    const QByteArray bytes = DataFormat::write(s);
    QCOMPARE(bytes.size(), 108);
    QCOMPARE(bytes.toHex(' '), Fixtures::workedExampleBytes().toHex(' '));
    QCOMPARE(s.currentRow(), 1); // writing never moves the current record
}

void TestDataFormat::workedExampleLoadsWithItsNulls()
{
    RecordStore s;
    QCOMPARE(DataFormat::read(s, Fixtures::workedExampleBytes()), qint64(108));
    QCOMPARE(s.count(), 2);
    const Record& master = s.at(0);
    QVERIFY(!master.isNull(Field::ID_RECORD));
    QCOMPARE(master.asInteger(Field::ID_RECORD), 0);
    QCOMPARE(master.asInteger(Field::ID_TRINK), 0x5A3C13);
    QVERIFY(master.isNull(Field::ID_TRINK_D));
    QVERIFY(master.isNull(Field::CODE_D));
    QVERIFY(master.isNull(Field::ADDRESS));
    QCOMPARE(master.asText(Field::CODE), QByteArray("XX??01100X"));
    const Record& r = s.at(1);
    QCOMPARE(r.asInteger(Field::ID_TRINK), 0x2B7E53);
    QCOMPARE(r.asText(Field::PULT_NUM), QByteArray("105"));
    QCOMPARE(r.asText(Field::ADDRESS), cp("ул. Мира, 7"));
    QCOMPARE(r.asText(Field::ADDRESS).size(), 11);
}

void TestDataFormat::integersTakeTheShortestTag()
{
    QCOMPARE(withInteger(0), hex("02 00"));
    QCOMPARE(withInteger(-1), hex("02 FF"));
    QCOMPARE(withInteger(127), hex("02 7F"));
    QCOMPARE(withInteger(-128), hex("02 80"));
    QCOMPARE(withInteger(128), hex("03 80 00"));
    QCOMPARE(withInteger(-129), hex("03 7F FF"));
    QCOMPARE(withInteger(32767), hex("03 FF 7F"));
    QCOMPARE(withInteger(-32768), hex("03 00 80"));
    QCOMPARE(withInteger(32768), hex("04 00 80 00 00"));
    QCOMPARE(withInteger(-32769), hex("04 FF 7F FF FF"));
    QCOMPARE(withInteger(qint32(0x80000000)), hex("04 00 00 00 80"));

    // The reader takes any of the three widths for any value, sign-extended.
    RecordStore s;
    QCOMPARE(load(s, oneRecord("08 04 FF FF FF FF 08 03 FE FF 08 02 80 09 09 09 09")), QString());
    QCOMPARE(s.at(0).asInteger(Field::ID_RECORD), -1);
    QCOMPARE(s.at(0).asInteger(Field::ID_TRINK), -2);
    QCOMPARE(s.at(0).asInteger(Field::ID_TRINK_D), -128);
}

void TestDataFormat::textTags_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("empty") << QByteArray("") << hex("06 00");
    QTest::newRow("digits") << QByteArray("105") << hex("06 03 31 30 35");
    QTest::newRow("control bytes stay plain") << QByteArray("a\tb\x7F") << hex("06 04 61 09 62 7F");
    QTest::newRow("cyrillic number") << cp("105Б") << hex("14 05 00 00 00 31 30 35 D0 91");
    QTest::newRow("no-break space") << QByteArray("\xA0") << hex("14 02 00 00 00 C2 A0");
    QTest::newRow("full-width cyrillic") << cp(QByteArray(80 * 2, 'x').replace("xx", "я").constData())
                                         << (hex("14 A0 00 00 00") + QByteArray("\xD1\x8F").repeated(80));
}

void TestDataFormat::textTags()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, encoded);
    RecordStore s;
    Record r;
    r.setText(Field::ADDRESS, text);
    s.append(r);
    const QByteArray bytes = DataFormat::write(s);
    QCOMPARE(bytes.mid(12 + 1 + 2 + 6 + 1, encoded.size()).toHex(' '), encoded.toHex(' '));
    RecordStore loaded;
    DataFormat::read(loaded, bytes);
    QVERIFY(!loaded.at(0).isNull(Field::ADDRESS));
    QCOMPARE(loaded.at(0).asText(Field::ADDRESS), text);
}

void TestDataFormat::longAndWideTextsAreAccepted()
{
    RecordStore s;
    // PULT_NUM as TagLongText of 40 bytes (cut to 32), ADDRESS as TagWideText "Юг", CODE as
    // TagUtf8Text holding a character Windows-1251 lacks, CODE_D as TagText with a NUL inside.
    const QByteArray longText = hex("0C 28 00 00 00") + QByteArray(40, 'Z');
    QByteArray file = hex("54 50 46 30 03 FB 00 01 00 01 00 01 01 02 00 09 09 09")
        + hex("08 14 04 00 00 00 61 E4 B8 AD") + hex("08 06 03 41 00 42") + hex("08") + longText
        + hex("08 12 02 00 00 00 2E 04 33 04") + hex("00 00");
    QCOMPARE(load(s, file), QString());
    const Record& r = s.at(0);
    QCOMPARE(r.asText(Field::CODE), QByteArray("a?"));
    QCOMPARE(r.asText(Field::CODE_D), QByteArray("A"));
    QCOMPARE(r.asText(Field::PULT_NUM), QByteArray(32, 'Z'));
    QCOMPARE(r.asText(Field::ADDRESS), cp("Юг"));
}

void TestDataFormat::utf8TextsReadAsTheCodecConvertsThem_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::newRow("cyrillic and latin") << QByteArray("ул. Ленина, д. 5 Ё ё Ў");
    QTest::newRow("signs") << QByteArray("№ € ‰ « » § © ° ± µ ¶ · …");
    QTest::newRow("no byte for it") << QByteArray("a中b ẞ Ω");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFab");
    QTest::newRow("overlong") << QByteArray("a\xC0\xAFb\xE0\x80\xAF");
    QTest::newRow("surrogate") << QByteArray("a\xED\xA0\x80b");
    QTest::newRow("other plane") << QByteArray("a\xF0\x9F\x98\x80b");
    QTest::newRow("stray continuation") << QByteArray("a\x80b\xBF");
    QTest::newRow("cut sequence") << QByteArray("ab\xD0");
    QTest::newRow("NUL inside") << QByteArray("я\0я", 5);
    QTest::newRow("past the width, then malformed") << (QByteArray("Ж").repeated(40) + "\xFF");
    QTest::newRow("past the width, malformed at it") << (QByteArray("Ж").repeated(31) + "\xFF\xD0\x96");
}

void TestDataFormat::utf8TextsReadAsTheCodecConvertsThem()
{
    QFETCH(QByteArray, utf8);
    QByteArray length(4, '\0');
    qToLittleEndian<quint32>(quint32(utf8.size()), length.data());
    RecordStore s;
    QCOMPARE(load(s,
                  hex("54 50 46 30 03 FB 00 01 00 01 00 01 01 02 00 09 09 09 08 14") + length + utf8
                      + hex("09 09 09 00 00")),
             QString());
    QByteArray expected = Text1251::fromUtf8(utf8);
    expected.truncate(qMin<qsizetype>(32, expected.indexOf('\0') < 0 ? expected.size() : expected.indexOf('\0')));
    QCOMPARE(s.at(0).asText(Field::CODE), expected);
}

void TestDataFormat::anyOtherNullFlagMeansAValueFollows()
{
    // Only 0x09 marks a null; 0x00, 0x01 and 0x0A as flags are followed by the value.
    RecordStore s;
    QCOMPARE(load(s, oneRecord("00 02 07 01 04 13 3C 5A 00 0A 02 05 09 09 FF 06 01 41 09")), QString());
    QCOMPARE(s.count(), 1);
    const Record& r = s.at(0);
    QCOMPARE(r.asInteger(Field::ID_RECORD), 7);
    QCOMPARE(r.asInteger(Field::ID_TRINK), 0x5A3C13);
    QVERIFY(!r.isNull(Field::ID_TRINK_D));
    QCOMPARE(r.asInteger(Field::ID_TRINK_D), 5);
    QVERIFY(r.isNull(Field::CODE) && r.isNull(Field::CODE_D) && r.isNull(Field::ADDRESS));
    QCOMPARE(r.asText(Field::PULT_NUM), QByteArray("A"));
    // A flag that isn't 0x09 before a null-looking entry: the entry is read as a value, and a
    // text field's 0x09 is then the wrong kind.
    RecordStore t;
    QCOMPARE(load(t, oneRecord("08 02 01 09 09 08 09 09 09 09")), QStringLiteral("Invalid property value"));
    QCOMPARE(t.count(), 0);
}

void TestDataFormat::staleTailIsNeverRead()
{
    RecordStore five;
    QRandomGenerator rng(5);
    for (int i = 0; i < 5; ++i)
        five.append(Fixtures::randomRecord(rng));
    RecordStore two;
    Fixtures::fillWorkedExample(two);
    QByteArray file = DataFormat::write(five);
    const QByteArray newer = DataFormat::write(two);
    QVERIFY(file.size() > newer.size());
    file.replace(0, newer.size(), newer);

    RecordStore loaded;
    QCOMPARE(DataFormat::read(loaded, file), qint64(newer.size()));
    QCOMPARE(loaded.rows(), two.rows());
    // Garbage after the end is just as invisible.
    RecordStore again;
    QCOMPARE(load(again, newer + QByteArray("\xFF\x01garbage")), QString());
    QCOMPARE(again.count(), 2);
}

void TestDataFormat::errorsKeepCompletedRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("kept");
    const QByteArray example = Fixtures::workedExampleBytes();
    const QString read = QStringLiteral("Stream read error");
    const QString format = QStringLiteral("Invalid stream format");
    const QString value = QStringLiteral("Invalid property value");

    QTest::newRow("one byte") << hex("54") << read << 0;
    QTest::newRow("three bytes") << hex("54 50 46") << read << 0;
    QTest::newRow("bad signature") << hex("54 50 46 31 03 FB 00 01 00 01 00 01 00") << format << 0;
    QTest::newRow("other version") << hex("54 50 46 30 03 FC 00 01 00 01 00 01 00") << format << 0;
    QTest::newRow("field definitions present") << hex("54 50 46 30 03 FB 00 01 01 00 00 01 00 01 00") << value << 0;
    QTest::newRow("cut in the second record") << example.left(90) << read << 1;
    QTest::newRow("cut before the list end") << example.left(107) << read << 2;
    QByteArray wrongKind = example;
    wrongKind[54] = 0x06; // ID_RECORD of the second record given as a text
    QTest::newRow("text where an integer belongs") << wrongKind << value << 1;
    QByteArray intForText = example;
    intForText[26] = 0x02; // master's CODE given as an integer
    QTest::newRow("integer where a text belongs") << intForText << value << 0;
    QByteArray eightFields = example;
    eightFields.insert(106, char(0x09));
    QTest::newRow("eight field entries") << eightFields << value << 1;
    QByteArray sixFields = example;
    sixFields.remove(48, 1); // master without its ADDRESS entry: its end marker is read as a flag
    QTest::newRow("six field entries") << sixFields << value << 0;
    QByteArray noListStart = example;
    noListStart[50] = 0x05;
    QTest::newRow("record without list start") << noListStart << value << 1;
}

void TestDataFormat::errorsKeepCompletedRecords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QFETCH(int, kept);
    RecordStore s;
    QCOMPARE(load(s, bytes), error);
    QCOMPARE(s.count(), kept);
    RecordStore example;
    Fixtures::fillWorkedExample(example);
    for (int i = 0; i < kept; ++i)
        QCOMPARE(s.at(i), example.at(i));
}

void TestDataFormat::everyCutFailsWithReadError()
{
    const QByteArray example = Fixtures::workedExampleBytes();
    // Record ends at offsets 49 and 106: a cut after them keeps that many records.
    for (int cut = 1; cut < example.size(); ++cut) {
        RecordStore s;
        QCOMPARE(load(s, example.left(cut)), QStringLiteral("Stream read error"));
        QCOMPARE(s.count(), cut > 106 ? 2 : cut > 49 ? 1 : 0);
    }
}

void TestDataFormat::lyingLengthsFailWithoutAllocating()
{
    // Lengths near 4 GB with only a few bytes behind them; the fuzzer's memory limit would
    // catch an allocation, here the error and the kept record are checked.
    const QByteArray example = Fixtures::workedExampleBytes();
    const QByteArray prefix = example.left(50);
    for (const char* value : {"14 FF FF FF FF 41", "0C FF FF FF 7F 41", "12 FF FF FF FF 41 00", "06 FF 41"}) {
        RecordStore s;
        const QByteArray bytes = prefix + hex("01 02 00 09 09 09 08") + hex(value);
        QCOMPARE(load(s, bytes), QStringLiteral("Stream read error"));
        QCOMPARE(s.count(), 1);
    }
}

void TestDataFormat::randomRegistersRoundTrip()
{
    QRandomGenerator rng(20260);
    for (int round = 0; round < 200; ++round) {
        RecordStore s;
        const int n = int(rng.bounded(12));
        for (int i = 0; i < n; ++i)
            s.append(Fixtures::randomRecord(rng));
        const QByteArray bytes = DataFormat::write(s);
        RecordStore loaded;
        QCOMPARE(DataFormat::read(loaded, bytes), qint64(bytes.size()));
        QCOMPARE(loaded.count(), s.count());
        for (int i = 0; i < n; ++i) {
            for (int f = 0; f < FieldCount; ++f)
                QCOMPARE(loaded.at(i).isNull(Field(f)), s.at(i).isNull(Field(f)));
            QCOMPARE(loaded.at(i), s.at(i));
        }
        QCOMPARE(DataFormat::write(loaded), bytes);
    }
    // Sized exactly before it is written: never grown, so never held twice while moved.
    RecordStore large;
    for (int i = 0; i < 2000; ++i)
        large.append(Fixtures::randomRecord(rng));
    const QByteArray bytes = DataFormat::write(large);
    QVERIFY2(bytes.capacity() <= bytes.size() + 1024, qPrintable(QString::number(bytes.capacity() - bytes.size())));
}

void TestDataFormat::readingInPiecesMatchesReadingWhole_data()
{
    QTest::addColumn<qint64>("piece");
    QTest::addColumn<qint64>("failAt");
    QTest::addColumn<qint64>("cut");
    const qint64 inLongText = piecewiseFile().size() - (8 << 20) - (1 << 20);
    QTest::newRow("large reads") << (qint64(1) << 40) << qint64(-1) << qint64(-1);
    QTest::newRow("blocks") << qint64(4096) << qint64(-1) << qint64(-1);
    QTest::newRow("odd pieces") << qint64(13) << qint64(-1) << qint64(-1);
    QTest::newRow("cut in the long text") << qint64(4096) << qint64(-1) << inLongText;
    QTest::newRow("read fails in the long text") << qint64(4096) << inLongText << qint64(-1);
    QTest::newRow("read fails in the records") << qint64(13) << qint64(1 << 20) << qint64(-1);
}

void TestDataFormat::readingInPiecesMatchesReadingWhole()
{
    QFETCH(qint64, piece);
    QFETCH(qint64, failAt);
    QFETCH(qint64, cut);
    const QByteArray bytes = piecewiseFile().left(cut < 0 ? piecewiseFile().size() : cut);
    // A failed read ends the file there.
    RecordStore whole;
    QString error;
    qint64 taken = -1;
    try {
        taken = DataFormat::read(whole, bytes.constData(), failAt < 0 ? bytes.size() : failAt);
    } catch (const RegisterError& e) {
        error = e.message();
    }
    RecordStore pieces;
    const Piecewise p = loadPiecewise(pieces, bytes, piece, failAt);
    QCOMPARE(p.error, error);
    QCOMPARE(p.taken, taken);
    QCOMPARE(pieces.count(), whole.count());
    QVERIFY(pieces.rows() == whole.rows());
    if (error.isEmpty())
        QVERIFY(p.fetched - p.taken <= 1 << 20); // the tail beyond is never read
}

QTEST_GUILESS_MAIN(TestDataFormat)
#include "tst_dataformat.moc"
