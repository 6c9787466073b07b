#include "apptest.h"
#include "auxwindow.h"
#include "devicetexts.h"
#include "gridtrinket.h"
#include "journal.h"
#include "messagebox.h"
#include "mntavro.h"
#include "opsrig.h"
#include "zoneparams.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
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
constexpr qint32 Second = 0x2D4E63;

using Fixtures::hex;

// The register of every enrolment case: the master, console 101 without a first trinket but
// with a second one, console 102 with a trinket.
std::vector<Record> sampleRegister()
{
    return {record(0, "MASTER", Master), record(1, "101", 0, 0x555553), record(2, "102", Taken)};
}

QByteArray writeCells(int cell, const QByteArray& values)
{
    QByteArray frames;
    for (int i = 0; i < values.size(); ++i)
        frames += QByteArray("\x53\x13", 2) + char(cell + i) + values.at(i);
    return frames;
}

// ReadTriple of a slot starting at `cell`: highest cell first.
QByteArray readSlot(int cell)
{
    QByteArray frames;
    for (int i = 2; i >= 0; --i)
        frames += QByteArray("\x53\x14", 2) + char(cell + i);
    return frames;
}

// The start of every user enrolment on a QM407 1.0: detection, the master into slot 0 (cells
// 9..11) and slots 1..3 (cells 12..20) cleared.
QByteArray userEnrolmentStart()
{
    return hex("5310") + writeCells(9, hex("23B10A")) + writeCells(12, QByteArray(9, char(0xFF)));
}

const QByteArray Crc = hex("5315");

// The jumper patterns of First and Second, as the register keeps them.
const QByteArray FirstCode = "0110XX???X";
const QByteArray SecondCode = "0?1XX01?X?";

// Chooses a record as the installer does, by a click on its row in the grid.
void clickRow(TFmTavro& w, int row)
{
    const QModelIndex index = w.GridTrinket->model()->index(row, 0);
    QTest::mouseClick(w.GridTrinket->viewport(), Qt::LeftButton, {}, w.GridTrinket->visualRect(index).center());
}

// ID_RECORD of the record the grid shows as current.
qint32 shownRecordId(TFmTavro& w)
{
    const QAbstractItemModel* model = w.GridTrinket->model();
    return model->data(model->index(w.GridTrinket->currentIndex().row(), 0)).toInt();
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

void verifyError(const QString& text)
{
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QCOMPARE(lastMessage().text, text);
    QCOMPARE(lastMessage().caption, QStringLiteral("Ошибка"));
    QCOMPARE(lastMessage().flags, MessageBoxFlags::Error);
}

void verifyUncaught(const QString& text)
{
    QCOMPARE(lastMessage().text, WithFullStop(text));
    QCOMPARE(lastMessage().caption, ApplicationTitle());
    QCOMPARE(lastMessage().flags, MessageBoxFlags::Uncaught);
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
    void parameterWrite_data();
    void parameterWrite();
    void parameterWindowFollowsTheModel();
    void unknownModeIsRefused_data();
    void unknownModeIsRefused();

    void userEnrolmentOneTrinket();
    void userEnrolmentTwoTrinkets();
    void userEnrolmentRefusals_data();
    void userEnrolmentRefusals();
    void userEnrolmentAsksFirst();
    void masterEnrolmentOverExistingMaster();
    void enrolmentWithoutMaster();
    void enrolmentErrorsInABox_data();
    void enrolmentErrorsInABox();
    void cancelledEnrolment();
    void closingEndsTheWait();

    void testReplies_data();
    void testReplies();
    void cancelledTest();

    void journal();
    void journalStopsAnswering();
    void dump();
    void versionAndRunTime();
    void versionFailures();
    void counterReset();
    void closedPort();
};

void TestOpsWindow::parameterWrite_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("model");
    const QByteArray zones13 = hex("01"
                                   "1E"
                                   "02"
                                   "00"
                                   "05"
                                   "0A");
    QTest::newRow("QM407 1.0") << 1 << 0
                               << hex("5310") + writeCells(2, zones13) + writeCells(8, hex("1E"))
            + writeCells(21, hex("01")) + writeCells(68, hex("00")) + Crc
                               << 0;
    QTest::newRow("QM407 1.1") << 1 << 1
                               << hex("5310") + writeCells(4, zones13) + writeCells(10, hex("1E"))
            + writeCells(23, hex("01")) + writeCells(70, hex("00")) + Crc
                               << 0;
    // Opened as a QM407: zones 4..7 are written from their disabled boxes, and the disabled
    // access-code box counts as unchecked.
    QTest::newRow("QM407M") << 2 << 0
                            << hex("5310") + writeCells(2, zones13 + QByteArray(8, '\0')) + writeCells(16, hex("1E"))
            + writeCells(29, hex("01")) + writeCells(92, hex("00")) + Crc
                            << 1;
}

void TestOpsWindow::parameterWrite()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(QByteArray, wire);
    QFETCH(int, model);
    OpsRig rig;
    QVERIFY(rig.ready());
    rig.sim.setVersion(major, minor);
    TFmTavro& w = rig.window();
    QCOMPARE(w.SFOptions->RGModel->ItemIndex(), 0);

    bool written = false;
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
        click(p->BtWrParams);
        written = true;
        if (window->isVisible())
            click(p->BtCancelParams);
    });
    click(w.BtSetParm);
    QVERIFY(written);
    QCOMPARE(rig.sim.received(), wire);
    QCOMPARE(rig.sim.crcRequests(), 1);
    QCOMPARE(w.SFOptions->RGModel->ItemIndex(), model);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
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

void TestOpsWindow::unknownModeIsRefused_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("zone");
    QTest::newRow("QM407, zone 2") << 1 << 2;
    QTest::newRow("QM407M, zone 6") << 2 << 6;
}

void TestOpsWindow::unknownModeIsRefused()
{
    QFETCH(int, major);
    QFETCH(int, zone);
    OpsRig rig;
    QVERIFY(rig.ready());
    rig.sim.setVersion(major, 0);
    TFmTavro& w = rig.window();
    // Opened as a QM407: zone 6 is checked once detection has found a QM407M.
    rig.onModal(QStringLiteral("SFParams"), [&](TAuxWindow* window) {
        w.SFParams->SensMode(zone)->setEditText(QStringLiteral("Охрана"));
        click(w.SFParams->BtWrParams);
        const bool stillOpen = window->isVisible();
        window->reject();
        QVERIFY(stillOpen);
    });
    trigger(w.NSetParam);
    // Detection only: no cell of the controller is touched.
    QCOMPARE(rig.sim.received(), hex("5310"));
    verifyError(QStringLiteral("Неверно задан режим зоны %1").arg(zone));
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
        duringWait = true;
        // The grid stays live: another record is opened in the editor and left.
        rig.onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow* window) {
            edited = true;
            window->reject();
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
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(expected)); // one-trinket mode keeps the second
}

void TestOpsWindow::userEnrolmentTwoTrinkets()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    w.SFOptions->RGNumTrink->setItemIndex(1);
    clickRow(w, 1);
    // The first trinket held again for the second slot only starts that wait anew.
    rig.pressTrinkets({First, First, Second});
    click(w.BtSetTrink);

    QCOMPARE(rig.sim.received(),
             userEnrolmentStart() + hex("5317") + readSlot(12) + hex("5318") + readSlot(15) + hex("5318") + readSlot(15)
                 + Crc);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    std::vector<Record> expected = sampleRegister();
    expected[1].setInteger(Field::ID_TRINK, First);
    expected[1].setText(Field::CODE, FirstCode);
    expected[1].setInteger(Field::ID_TRINK_D, Second);
    expected[1].setText(Field::CODE_D, SecondCode);
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(expected));
}

void TestOpsWindow::userEnrolmentRefusals_data()
{
    QTest::addColumn<int>("trinkets");
    QTest::addColumn<QList<quint32>>("presses");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("currentId");
    const QString duplicate = QStringLiteral("Брелок с таким кодом уже есть в БД");
    const QString notOne = QStringLiteral("Нажата не кнопка '1' брелка");
    // The other combinations are the register's (tst_editing).
    QTest::newRow("two, second taken") << 2 << QList<quint32> {First, Taken} << duplicate << 2;
    QTest::newRow("one, button 2") << 1 << QList<quint32> {First + 2} << notOne << 1;
}

void TestOpsWindow::userEnrolmentRefusals()
{
    QFETCH(int, trinkets);
    QFETCH(QList<quint32>, presses);
    QFETCH(QString, message);
    QFETCH(int, currentId);
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    w.SFOptions->RGNumTrink->setItemIndex(trinkets - 1);
    clickRow(w, 1);
    const QByteArray before = rig.dataBytes();
    rig.pressTrinkets(presses);
    click(w.BtSetTrink);

    verifyError(message);
    // What was enrolled stays in the controller, but nothing is recorded or checksummed.
    QVERIFY(rig.sim.received().startsWith(userEnrolmentStart() + hex("5317")));
    QVERIFY(!rig.sim.received().endsWith(Crc));
    QCOMPARE(rig.sim.crcRequests(), 0);
    QCOMPARE(rig.dataBytes(), before);
    // A duplicate shows the record that holds the code.
    QCOMPARE(shownRecordId(w), currentId);
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

    // Another record's trinket cannot become the master.
    MessageBoxSeam::pushAnswer(ButtonYes);
    rig.pressTrinkets({Taken});
    trigger(w.NSetMaster);
    QCOMPARE(MessageBoxSeam::texts(), QStringList({question, QStringLiteral("Брелок с таким кодом уже есть в БД")}));
    clickRow(w, 1);
    // A QM407M keeps slot 0 in cells 17..19.
    QCOMPARE(slotZeroWrites(rig), writeCells(17, hex("23B10A")));

    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
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

void TestOpsWindow::enrolmentWithoutMaster()
{
    OpsRig rig({record(1, "101")});
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 0);
    rig.pressTrinkets({First});
    click(w.BtSetTrink);
    // No master recorded: slot 0 is written with zeros.
    QCOMPARE(rig.sim.received(),
             hex("5310") + writeCells(9, QByteArray(3, '\0')) + writeCells(12, QByteArray(9, char(0xFF))) + hex("5317")
                 + readSlot(12) + Crc);

    // No question without a master; the master record is added.
    rig.pressTrinkets({Second});
    trigger(w.NSetMaster);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    const std::vector<Record> saved = AppTest::recordsIn(rig.dataPath());
    QCOMPARE(saved.size(), size_t(2));
    QCOMPARE(saved.at(0).asInteger(Field::ID_RECORD), 0);
    QCOMPARE(saved.at(0).asText(Field::PULT_NUM), QByteArray("MASTER"));
    QCOMPARE(saved.at(0).asInteger(Field::ID_TRINK), Second);
    QCOMPARE(saved.at(0).asText(Field::CODE), SecondCode);
    QCOMPARE(rig.sim.crcRequests(), 2);
    // From now on the user enrolments write the new master into slot 0.
    clickRow(w, 1);
    MessageBoxSeam::pushAnswer(ButtonYes);
    QCOMPARE(slotZeroWrites(rig), writeCells(9, hex("634E2D")));
}

void TestOpsWindow::enrolmentErrorsInABox_data()
{
    QTest::addColumn<bool>("master");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("user, enrolment answer") << false << 0x16 << DeviceTexts::enrolError();
    QTest::newRow("user, detection") << false << 0x10 << DeviceTexts::versionReadError();
    QTest::newRow("user, slot write") << false << 0x13 << DeviceTexts::eepromWriteError();
    QTest::newRow("master, enrolment answer") << true << 0x16 << DeviceTexts::enrolError();
    QTest::newRow("master, read back") << true << 0x14 << DeviceTexts::noAnswer();
}

void TestOpsWindow::enrolmentErrorsInABox()
{
    QFETCH(bool, master);
    QFETCH(int, fault);
    QFETCH(QString, message);
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    clickRow(w, 1);
    const QByteArray before = rig.dataBytes();
    if (fault == 0x16) {
        rig.sim.setEnrolReply('X');
    } else {
        Qm407Simulator::Fault f;
        f.kind = fault == 0x13 ? Qm407Simulator::Fault::WrongAck : Qm407Simulator::Fault::NoReply;
        rig.sim.setFault(quint8(fault), f);
    }
    rig.pressTrinkets({First});
    if (master) {
        MessageBoxSeam::pushAnswer(ButtonYes);
        trigger(w.NSetMaster);
        QCOMPARE(MessageBoxSeam::shown().size(), 2);
        QCOMPARE(lastMessage().text, message);
        QCOMPARE(lastMessage().flags, MessageBoxFlags::Error);
    } else {
        click(w.BtSetTrink);
        verifyError(message);
    }
    QCOMPARE(rig.dataBytes(), before);
    QCOMPARE(rig.sim.crcRequests(), 0);
    QVERIFY(!w.SFSetupTrink->isVisible());
    QVERIFY(w.ActSetTrinket->isEnabled());
    // The master stays the one the register holds.
    rig.sim.clearFaults();
    rig.sim.setEnrolReply('U');
    clickRow(w, 1);
    QCOMPARE(slotZeroWrites(rig), writeCells(9, hex("23B10A")));
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
            click(w.SFSetupTrink->BtTrinkCancel); // every click sends its own cancel frame
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

void TestOpsWindow::cancelledTest()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    bool cancelled = false;
    QTimer canceller;
    canceller.setInterval(20);
    connect(&canceller, &QTimer::timeout, this, [&] {
        if (!cancelled && rig.sim.waitingCommand() == 0x12 && w.SFSetupTrink->isVisible()) {
            cancelled = true;
            QTest::keyClick(w.SFSetupTrink, Qt::Key_Escape);
        }
    });
    canceller.start();
    click(w.BtTestTrinket);
    canceller.stop();
    QVERIFY(cancelled);
    QCOMPARE(rig.sim.received(),
             hex("5312"
                 "0000"));
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
    QVERIFY(!w.SFSetupTrink->isVisible());
    QVERIFY(w.ActTestTrinket->isEnabled());
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

void TestOpsWindow::journalStopsAnswering()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    rig.sim.setVersion(2, 0);
    Qm407Simulator::Fault silent;
    silent.kind = Qm407Simulator::Fault::NoReply;
    silent.afterCount = 10;
    rig.sim.setFault(0x11, silent);
    bool shown = false;
    rig.onModal(QStringLiteral("SFJournal"), [&](TAuxWindow* window) {
        shown = true;
        window->reject();
    });
    trigger(w.NJournal);
    QVERIFY(!shown);
    verifyError(DeviceTexts::noAnswer());
    // The entries read before stay in the list until the next reading.
    QCOMPARE(w.SFJournal->MmJournal->toPlainText().split(QLatin1Char('\n')).size(), 10);
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

    // 1.1 has no run-time line; a QM407M reads its counter at 89..91.
    rig.sim.clearLog();
    rig.sim.setVersion(1, 1);
    trigger(w.NVersion);
    QCOMPARE(lastMessage().text, QStringLiteral("QM407 версии 1.1"));
    QCOMPARE(rig.sim.received(),
             hex("5310"
                 "5310"));
    rig.sim.clearLog();
    rig.sim.setVersion(2, 0);
    rig.sim.setCounter(59);
    trigger(w.NVersion);
    QCOMPARE(lastMessage().text, QStringLiteral("QM407 версии 2.0\nУстройство проработало 0дн 0ч 59мин"));
    QCOMPARE(rig.sim.received(),
             hex("5310"
                 "5310"
                 "53145B"
                 "53145A"
                 "531459"));
    QCOMPARE(w.SFOptions->RGModel->ItemIndex(), 1);
    QCOMPARE(MessageBoxSeam::shown().size(), 3);
}

void TestOpsWindow::versionFailures()
{
    OpsRig rig;
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    Qm407Simulator::Fault shortReply;
    shortReply.kind = Qm407Simulator::Fault::ShortReply;
    shortReply.replyBytes = 2;
    rig.sim.setFault(0x10, shortReply);
    trigger(w.NVersion);
    verifyError(DeviceTexts::versionReadError());
    QCOMPARE(rig.sim.received(), hex("5310")); // no detection, no counter

    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
    rig.sim.clearFaults();
    rig.sim.clearLog();
    rig.sim.setVersion(4, 0);
    trigger(w.NVersion);
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    verifyUncaught(DeviceTexts::unknownVersion());
    QCOMPARE(rig.sim.received(),
             hex("5310"
                 "5310"));
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

void TestOpsWindow::closedPort()
{
    OpsRig rig(sampleRegister());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    w.Close();
    clickRow(w, 1);
    const QByteArray before = rig.dataBytes();
    const QString portError = DeviceTexts::portReadError();

    const auto expectPortError = [&](const char* what) {
        QVERIFY2(!MessageBoxSeam::shown().isEmpty(), what);
        QVERIFY2(lastMessage().text == WithFullStop(portError), what);
        QVERIFY2(lastMessage().flags == MessageBoxFlags::Uncaught, what);
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
    };
    MessageBoxSeam::pushAnswer(ButtonYes);
    trigger(w.NSetMaster);
    expectPortError("master");
    click(w.BtSetTrink);
    expectPortError("enrolment");
    click(w.BtTestTrinket);
    expectPortError("test");
    rig.onModal(QStringLiteral("SFParams"), [&](TAuxWindow* window) {
        click(w.SFParams->BtWrParams);
        if (window->isVisible())
            window->reject();
    });
    click(w.BtSetParm);
    expectPortError("parameters");
    trigger(w.NJournal);
    expectPortError("journal");
    trigger(w.NVersion);
    expectPortError("version");
    trigger(w.NClrCnt);
    expectPortError("counter");
    trigger(w.EEPROM);
    expectPortError("dump");

    QCOMPARE(rig.sim.received(), QByteArray());
    QCOMPARE(rig.dataBytes(), before);
    QVERIFY(!w.SFJournal->isVisible());
    QVERIFY(!w.SFROM->isVisible());
    QVERIFY(w.ActSetTrinket->isEnabled());
}

QM407_APP_TEST_MAIN(TestOpsWindow)

#include "tst_opswindow.moc"
