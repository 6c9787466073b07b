#include "app/auxwindow.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "device/devicetexts.h"
#include "tests/support/apptest.h"
#include "tests/support/opsrig.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using OpsTest::record;

namespace {

constexpr qint32 Master = 0x0AB123;
constexpr qint32 Taken = 0x1B2C33; // the first trinket of console 102
constexpr qint32 First = 0x3C5A93;

using Fixtures::hex;
using Fixtures::readSlot;
using Fixtures::writeCells;

// The register of every enrolment case: the master, console 101 without a first trinket but
// with a second one, console 102 with a trinket.
std::vector<Record> sampleRegister()
{
    return {record(0, "MASTER", Master), record(1, "101", 0, 0x555553), record(2, "102", Taken)};
}

// The start of every user enrolment on a QM407 1.0: detection, the master into slot 0 (cells
// 9..11) and slots 1..3 (cells 12..20) cleared.
QByteArray userEnrolmentStart()
{
    return hex("5310") + writeCells(9, hex("23B10A")) + writeCells(12, QByteArray(9, char(0xFF)));
}

const QByteArray Crc = hex("5315");

// The jumper pattern of First, as the register keeps it.
const QByteArray FirstCode = "0110XX???X";

// Chooses a record as the installer does, by a click on its row in the grid.
void clickRow(TFmTavro& w, int row)
{
    const QModelIndex index = w.GridTrinket->model()->index(row, 0);
    QTest::mouseClick(w.GridTrinket->viewport(), Qt::LeftButton, {}, w.GridTrinket->visualRect(index).center());
}

void click(QAbstractButton* button)
{
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

void trigger(QAction* action)
{
    QVERIFY(action->isEnabled());
    action->trigger();
}

MessageBoxSeam::Shown lastMessage()
{
    return MessageBoxSeam::shown().isEmpty() ? MessageBoxSeam::Shown {} : MessageBoxSeam::last();
}

// The master code the window holds, as a user enrolment of the current record writes it into
// slot 0 (its first three cell writes) before its wait, which is then cancelled.
QByteArray slotZeroWrites(OpsRig& rig)
{
    TFmTavro& w = rig.window();
    rig.sim.clearLog();
    QTimer canceller;
    canceller.setInterval(20);
    QObject::connect(&canceller, &QTimer::timeout, &canceller, [&] {
        if (rig.sim.waitingCommand() == 0x17 && w.SFSetupTrink->isVisible())
            QTest::mouseClick(w.SFSetupTrink->BtTrinkCancel, Qt::LeftButton);
    });
    canceller.start();
    QTest::mouseClick(w.BtSetTrink, Qt::LeftButton);
    canceller.stop();
    return rig.sim.received().mid(2, 12);
}

} // namespace

// The device commands of the main window, pressed as an installer presses them, against the
// simulated controller: bytes on the wire, messages, register and data file.
class TestOpsWindow : public QObject
{
    Q_OBJECT

private slots:
    void parameterWrite();
    void parameterWindowFollowsTheModel();

    void userEnrolmentOneTrinket();
    void userEnrolmentAsksFirst();
    void masterEnrolmentOverExistingMaster();
    void cancelledEnrolment();
    void closingEndsTheWait();

    void testReplies_data();
    void testReplies();

    void journal();
    void dump();
    void versionAndRunTime();
    void counterReset();
    void failureDisplay_data();
    void failureDisplay();
};

// A QM407M opened as a QM407: zones 4..7 are written from their disabled boxes, and the
// disabled access-code box counts as unchecked. A zone naming no mode keeps the window open.
// The other models' cells are the core's (tst_installercore).
void TestOpsWindow::parameterWrite()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    rig.sim.setVersion(2, 0);
    TFmTavro& w = rig.window();
    QCOMPARE(w.SFOptions->RGModel->ItemIndex(), 0);

    bool written = false;
    bool stillOpen = false;
    rig.onModal(QStringLiteral("SFParams"), [&](TAuxWindow* window) {
        TSFParams* p = w.SFParams;
        const int modes[] = {1, 2, 5};
        const int delays[] = {30, 0, 10};
        for (int n = 1; n <= 3; ++n) {
            p->SensMode(n)->setCurrentIndex(modes[n - 1]);
            p->OpDelay(n)->setValue(delays[n - 1]);
        }
        p->CloseDelay->setValue(30);
        p->EnBypass->setChecked(true);
        p->CBDisExtCode->setChecked(true);
        p->CBAutoClose->setChecked(false);
        p->CBIndicOnlyAlarm->setChecked(false);
        p->CBNoMAT->setChecked(false);
        p->SensMode6->setEditText(QStringLiteral("Охрана"));
        click(p->BtWrParams);
        stillOpen = window->isVisible();
        p->SensMode6->setCurrentIndex(0);
        click(p->BtWrParams);
        written = true;
        if (window->isVisible())
            click(p->BtCancelParams);
    });
    click(w.BtSetParm);
    QVERIFY(written && stillOpen);
    QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Неверно задан режим зоны 6")});
    QCOMPARE(lastMessage().flags, MessageBoxFlags::Error);
    QCOMPARE(rig.sim.received(),
             hex("5310") + hex("5310") + writeCells(2, hex("011E0200050A") + QByteArray(8, '\0'))
                 + writeCells(16, hex("1E")) + writeCells(29, hex("01")) + writeCells(92, hex("00")) + Crc);
    QCOMPARE(rig.sim.crcRequests(), 1);
    QCOMPARE(w.SFOptions->RGModel->ItemIndex(), 1);
}

void TestOpsWindow::parameterWindowFollowsTheModel()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    TSFParams* p = w.SFParams;
    p->SensMode5->setCurrentIndex(-1);
    p->SensMode6->setEditText(QStringLiteral("Что-то"));
    const QList<QWidget*> modelControls {p->SensMode4,    p->SensMode7,   p->OpDelay4,         p->OpDelay7,
                                         p->CBDisExtCode, p->CBAutoClose, p->CBIndicOnlyAlarm, p->CBNoMAT};
    for (int model = 0; model <= 1; ++model) {
        w.SFOptions->RGModel->setItemIndex(model);
        QStringList modes;
        QList<bool> enabled;
        rig.onModal(QStringLiteral("SFParams"), [&](TAuxWindow* window) {
            for (int n = 1; n <= 7; ++n)
                modes << p->SensMode(n)->currentText();
            for (QWidget* control : modelControls)
                enabled << control->isEnabled();
            enabled << p->SensMode3->isEnabled();
            window->reject();
        });
        trigger(w.NSetParam);
        // Boxes without a mode show "Выключена"; zones 4..7 and the options only on a QM407M.
        QCOMPARE(modes.size(), 7);
        QCOMPARE(modes.at(4), QStringLiteral("Выключена"));
        QCOMPARE(modes.at(5), QStringLiteral("Выключена"));
        for (const QString& mode : modes)
            QVERIFY(DeviceOps::zoneModeCode(mode) >= 0);
        QCOMPARE(enabled, QList<bool>(modelControls.size(), model == 1) << true);
    }
    QCOMPARE(rig.sim.received(), QByteArray());
}

void TestOpsWindow::userEnrolmentOneTrinket()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 1);

    bool duringWait = false;
    bool edited = false;
    rig.pressTrinkets({First}, [&] {
        QVERIFY(w.SFSetupTrink->isVisible());
        QCOMPARE(w.SFSetupTrink->LbSetupTrink->text(),
                 QStringLiteral("Установка брелка.\nНажмите кнопку '1' на брелке и удерживайте ее нажатой 2 сек"));
        QVERIFY(!w.ActSetTrinket->isEnabled());
        QVERIFY(!w.BtAdd->isEnabled());
        QVERIFY(!w.NQM407->menuAction()->isEnabled());
        // "Опции" stays open to the installer, but "Определить" would take the wait's reply.
        QVERIFY(w.N3->isEnabled());
        QVERIFY(!w.SFOptions->BtDefModel->isEnabled());
        // Every command that could change the register's records or talk to the controller.
        for (const char* name : {"NImportCsv", "NCompareImage"})
            QVERIFY(!w.findChild<QAction*>(QLatin1String(name))->isEnabled());
        QVERIFY(!w.BtDel->isEnabled());
        duringWait = true;
        // The grid stays live: another record is edited, and the enrolment keeps its record.
        rig.onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow*) {
            edited = true;
            w.SFEditItem->EdAddr->setText(QStringLiteral("Address 2b"));
            click(w.SFEditItem->BtOk);
        });
        const QPoint at = w.GridTrinket->visualRect(w.GridTrinket->model()->index(2, 0)).center();
        QTest::mouseClick(w.GridTrinket->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.GridTrinket->viewport(), Qt::LeftButton, {}, at);
    });
    click(w.BtSetTrink);
    QVERIFY(duringWait);
    QVERIFY(edited);
    QVERIFY(!w.SFSetupTrink->isVisible());
    QVERIFY(w.ActSetTrinket->isEnabled());
    QVERIFY(w.SFOptions->BtDefModel->isEnabled());

    // The master code the register holds goes into slot 0.
    QCOMPARE(rig.sim.received(), userEnrolmentStart() + hex("5317") + readSlot(12) + Crc);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    std::vector<Record> expected = sampleRegister();
    expected[1].setInteger(Field::ID_TRINK, First);
    expected[1].setText(Field::CODE, FirstCode);
    expected[2].setText(Field::ADDRESS, "Address 2b");
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(expected)); // one-trinket mode keeps the second
    QVERIFY(w.findChild<QAction*>(QStringLiteral("NImportCsv"))->isEnabled());
}

void TestOpsWindow::userEnrolmentAsksFirst()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();

    // The master record and an installation that has a trinket, answered No: nothing happens.
    clickRow(w, 0);
    click(w.BtSetTrink);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    clickRow(w, 2);
    MessageBoxSeam::pushAnswer(ButtonNo);
    click(w.BtSetTrink);
    QCOMPARE(lastMessage().text, QStringLiteral("Брелок для этого устройства уже установлен, продолжить?"));
    QCOMPARE(lastMessage().caption, QStringLiteral("Предупреждение"));
    QCOMPARE(lastMessage().flags, MessageBoxFlags::Confirmation);
    QCOMPARE(rig.sim.received(), QByteArray());

    // Yes, and its own trinket enrolled again is no duplicate.
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
    MessageBoxSeam::pushAnswer(ButtonYes);
    rig.pressTrinkets({Taken});
    click(w.BtSetTrink);
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QCOMPARE(rig.sim.received(), userEnrolmentStart() + hex("5317") + readSlot(12) + Crc);
    const Record saved = AppTest::recordsIn(rig.dataPath()).at(2);
    QCOMPARE(saved.asInteger(Field::ID_TRINK), Taken);
    QCOMPARE(saved.asText(Field::CODE), QByteArray("0X?10?1001"));
}

void TestOpsWindow::masterEnrolmentOverExistingMaster()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.sim.setVersion(2, 0);
    const QString question = QStringLiteral("Мастер-брелок уже имеется в базе данных, продолжить?");

    // The duplicate and the master's own code are the core's (tst_installercore).
    rig.sim.clearLog();
    MessageBoxSeam::pushAnswer(ButtonYes);
    rig.pressTrinkets({First});
    trigger(w.NSetMaster);
    QCOMPARE(MessageBoxSeam::texts(), QStringList {question});
    QCOMPARE(rig.sim.received(),
             hex("5310"
                 "5316")
                 + readSlot(17) + Crc);
    std::vector<Record> expected = sampleRegister();
    expected[0].setInteger(Field::ID_TRINK, First);
    expected[0].setText(Field::CODE, FirstCode);
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(expected)); // the address stays
    clickRow(w, 1);
    QCOMPARE(slotZeroWrites(rig), writeCells(17, hex("935A3C")));
}

void TestOpsWindow::cancelledEnrolment()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 1);
    const QByteArray before = rig.dataBytes();
    bool cancelled = false;
    QTimer canceller;
    canceller.setInterval(20);
    connect(&canceller, &QTimer::timeout, this, [&] {
        if (!cancelled && rig.sim.waitingCommand() == 0x17 && w.SFSetupTrink->isVisible()) {
            cancelled = true;
            click(w.SFSetupTrink->BtTrinkCancel);
            QTest::keyClick(w.SFSetupTrink, Qt::Key_Escape); // each sends its own cancel frame
        }
    });
    canceller.start();
    click(w.BtSetTrink);
    canceller.stop();

    QVERIFY(cancelled);
    // The second frame is answered by nobody, so it may reach the simulator a moment later.
    QTRY_COMPARE(rig.sim.received(),
                 userEnrolmentStart()
                     + hex("5317"
                           "0000"
                           "0000"));
    QVERIFY(!rig.sim.isWaiting());
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    QCOMPARE(rig.dataBytes(), before);
    QVERIFY(!w.SFSetupTrink->isVisible());
    QVERIFY(w.ActSetTrinket->isEnabled());
    QVERIFY(w.BtDel->isEnabled());
}

void TestOpsWindow::closingEndsTheWait()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 1);
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (rig.sim.waitingCommand() == 0x17)
            w.close();
    });
    closer.start();
    click(w.BtSetTrink);
    closer.stop();
    QCOMPARE(rig.sim.received(),
             userEnrolmentStart()
                 + hex("5317"
                       "0000"));
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(sampleRegister()));
    QVERIFY(!w.SFSetupTrink->isVisible());
}

void TestOpsWindow::testReplies_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flags");
    QTest::newRow("81 U") << 0x81 << int('U') << QStringLiteral("Нажата кнопка 2 брелка 1") << MessageBoxFlags::Result;
    QTest::newRow("03 U") << 0x03 << int('U') << QStringLiteral("Нажата кнопка 1 брелка 3") << MessageBoxFlags::Result;
    QTest::newRow("81 X") << 0x81 << int('X') << DeviceTexts::testError() << MessageBoxFlags::Error;
}

void TestOpsWindow::testReplies()
{
    QFETCH(int, button);
    QFETCH(int, ack);
    QFETCH(QString, text);
    QFETCH(int, flags);
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.pressTestButton(quint8(button), quint8(ack));
    click(w.BtTestTrinket);
    QCOMPARE(rig.sim.received(), hex("5312"));
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QCOMPARE(lastMessage().text, text);
    QCOMPARE(lastMessage().caption,
             flags == MessageBoxFlags::Result ? QStringLiteral("Брелок") : QStringLiteral("Ошибка"));
    QCOMPARE(lastMessage().flags, flags);
    QCOMPARE(w.SFSetupTrink->LbSetupTrink->text(), QStringLiteral("\nНажмите кнопку на проверяемом брелке"));
}

void TestOpsWindow::journal()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.sim.setVersion(1, 1);
    rig.sim.setJournalEntry(0, 0x63, 1500);
    rig.sim.setJournalEntry(42, 0x1F, 0xFFFFFF);
    QStringList lines;
    QString copied;
    rig.onModal(QStringLiteral("SFJournal"), [&](TAuxWindow* window) {
        lines = w.SFJournal->MmJournal->toPlainText().split(QLatin1Char('\n'));
        w.SFJournal->MmJournal->selectAll();
        w.SFJournal->MmJournal->copy();
        copied = QApplication::clipboard()->text();
        QTest::keyClick(window, Qt::Key_Escape);
    });
    trigger(w.NJournal);
    QCOMPARE(lines.size(), 43);
    QCOMPARE(lines.first(), QStringLiteral("Взятие (3), прошло 1дн 1ч 0мин c начала работы"));
    QCOMPARE(lines.at(1), QStringLiteral("Unknown, прошло 0дн 0ч 0мин c начала работы"));
    QCOMPARE(lines.last(), DeviceOps::journalLine(0x1F, 0xFFFFFF));
    QCOMPARE(copied, lines.join(QLatin1Char('\n')));
    QVERIFY(w.SFJournal->MmJournal->isReadOnly());
    QCOMPARE(rig.sim.received().left(5),
             hex("5310"
                 "531100"));
    QCOMPARE(rig.sim.received().size(), 2 + 43 * 3);
    QVERIFY(!QApplication::overrideCursor());
}

void TestOpsWindow::dump()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    for (int a = 0; a < 256; ++a)
        rig.sim.setCell(a, quint8(a * 7));
    rig.sim.setCell(1, 10);
    QStringList lines;
    bool fixedPitch = false;
    rig.onModal(QStringLiteral("SFROM"), [&](TAuxWindow* window) {
        lines = w.SFROM->MmROM->toPlainText().split(QLatin1Char('\n'));
        fixedPitch = QFontInfo(w.SFROM->MmROM->font()).fixedPitch();
        window->reject();
    });
    trigger(w.EEPROM);
    QCOMPARE(lines.size(), 32);
    QCOMPARE(lines.first(), QStringLiteral("0000  00 0A 0E 15 1C 23 2A 31 "));
    QVERIFY(lines.last().startsWith(QStringLiteral("00F8  C8 CF D6 DD E4 EB F2 F9 ")));
    for (const QString& line : lines)
        QCOMPARE(line.size(), 30);
    QVERIFY(fixedPitch);
    QByteArray reads;
    for (int a = 0; a < 256; ++a)
        reads += QByteArray("\x53\x14", 2) + char(a);
    QCOMPARE(rig.sim.received(), reads); // no detection
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
}

void TestOpsWindow::versionAndRunTime()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.sim.setVersion(1, 2);
    rig.sim.setCell(65, 0xDC);
    rig.sim.setCell(66, 0x05);
    rig.sim.setCell(67, 0x00);
    trigger(w.NVersion);
    QCOMPARE(lastMessage().text, QStringLiteral("QM407 версии 1.2\nУстройство проработало 1дн 1ч 0мин"));
    QCOMPARE(lastMessage().caption, QStringLiteral("Версия"));
    QCOMPARE(lastMessage().flags, MessageBoxFlags::Result);
    QCOMPARE(rig.sim.received(),
             hex("5310"
                 "5310"
                 "531443"
                 "531442"
                 "531441"));

    // The other versions' lines and counters are the core's (tst_installercore).
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
}

void TestOpsWindow::counterReset()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.sim.setVersion(3, 1);
    rig.sim.setCounter(123456);
    trigger(w.NClrCnt);
    QCOMPARE(rig.sim.received(), hex("5310") + writeCells(89, QByteArray(3, '\0')) + Crc);
    QCOMPARE(rig.sim.cell(89) | rig.sim.cell(90) | rig.sim.cell(91), 0);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
}

// Which failures a command shows in its "Ошибка" box and which reach the uncaught-error
// display, one row per command and failing step.
void TestOpsWindow::failureDisplay_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("faultOn"); // a command code, or -1 for a closed port
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("major");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("uncaught");
    QTest::addColumn<int>("memoLines"); // the lines read before the failure, -1: no memo
    const int none = Qm407Simulator::Fault::NoReply;
    const int closed = -1;
    const QString port = DeviceTexts::portReadError();
    QTest::newRow("master, drain") << "NSetMaster" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("master, detection") << "NSetMaster" << 0x10 << none << 0 << 1 << DeviceTexts::versionReadError()
                                       << false << -1;
    QTest::newRow("enrolment, drain") << "BtSetTrink" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("enrolment, slot write") << "BtSetTrink" << 0x13 << int(Qm407Simulator::Fault::WrongAck) << 0 << 1
                                           << DeviceTexts::eepromWriteError() << false << -1;
    QTest::newRow("test") << "BtTestTrinket" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("parameters, drain") << "BtSetParm" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("parameters, detection")
        << "BtSetParm" << 0x10 << none << 0 << 1 << DeviceTexts::versionReadError() << true << -1;
    QTest::newRow("journal, drain") << "NJournal" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("journal, entry") << "NJournal" << 0x11 << none << 10 << 2 << DeviceTexts::noAnswer() << false << 10;
    QTest::newRow("version, drain") << "NVersion" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("version, short reply") << "NVersion" << 0x10 << int(Qm407Simulator::Fault::ShortReply) << 0 << 1
                                          << DeviceTexts::versionReadError() << false << -1;
    QTest::newRow("version, unknown") << "NVersion" << 0 << 0 << 0 << 4 << DeviceTexts::unknownVersion() << true << -1;
    QTest::newRow("counter") << "NClrCnt" << 0x10 << none << 0 << 1 << DeviceTexts::versionReadError() << true << -1;
    QTest::newRow("dump, drain") << "EEPROM" << closed << 0 << 0 << 1 << port << true << -1;
    QTest::newRow("dump, cell") << "EEPROM" << 0x14 << none << 100 << 1 << DeviceTexts::noAnswer() << true << 12;
}

void TestOpsWindow::failureDisplay()
{
    QFETCH(QString, command);
    QFETCH(int, faultOn);
    QFETCH(int, kind);
    QFETCH(int, after);
    QFETCH(int, major);
    QFETCH(QString, text);
    QFETCH(bool, uncaught);
    QFETCH(int, memoLines);
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 1);
    const QByteArray before = rig.dataBytes();
    rig.sim.setVersion(major, 0);
    if (faultOn < 0) {
        w.Close();
    } else if (faultOn > 0) {
        Qm407Simulator::Fault fault;
        fault.kind = Qm407Simulator::Fault::Kind(kind);
        fault.afterCount = after;
        fault.replyBytes = 2;
        rig.sim.setFault(quint8(faultOn), fault);
    }
    rig.onModal(QStringLiteral("SFParams"), [&](TAuxWindow* window) {
        click(w.SFParams->BtWrParams);
        if (window->isVisible())
            window->reject();
    });
    rig.pressTrinkets({First});
    if (command == QLatin1String("NSetMaster"))
        MessageBoxSeam::pushAnswer(ButtonYes);
    if (auto* button = w.findChild<QAbstractButton*>(command))
        click(button);
    else
        trigger(w.findChild<QAction*>(command));

    QCOMPARE(lastMessage().text, uncaught ? WithFullStop(text) : text);
    QCOMPARE(lastMessage().caption, uncaught ? ApplicationTitle() : QStringLiteral("Ошибка"));
    QCOMPARE(lastMessage().flags, uncaught ? MessageBoxFlags::Uncaught : MessageBoxFlags::Error);
    QCOMPARE(MessageBoxSeam::shown().size(), command == QLatin1String("NSetMaster") ? 2 : 1);
    if (memoLines >= 0) {
        QPlainTextEdit* memo = command == QLatin1String("NJournal") ? w.SFJournal->MmJournal : w.SFROM->MmROM;
        QCOMPARE(memo->toPlainText().split(QLatin1Char('\n')).size(), memoLines);
    }
    QVERIFY(!w.SFJournal->isVisible() && !w.SFROM->isVisible() && !w.SFSetupTrink->isVisible());
    QCOMPARE(rig.dataBytes(), before);
    QCOMPARE(rig.sim.crcRequests(), 0);
    QVERIFY(w.ActSetTrinket->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
}

QM407_APP_TEST_MAIN(TestOpsWindow)

#include "tst_opswindow.moc"
