// Adding, editing, deleting and erasing through the real main window and its record window,
// with the data file on disk as the witness.
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/registermodel.h"
#include "register/text1251.h"
#include "tests/support/apptest.h"
#include "tests/support/filesizecap.h"

#include <QLineEdit>
#include <QPushButton>

using AppTest::utf8;

class TestRegisterEditing : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AppTest::WorkDir> m_dir;
    std::unique_ptr<TFmTavro> m_window;

    void start(const std::vector<Record>& records)
    {
        m_dir = std::make_unique<AppTest::WorkDir>();
        QVERIFY(AppTest::writeFile(QStringLiteral("Trinket.dat"), AppTest::registerBytes(records)));
        m_window = AppTest::makeWindow();
        QCOMPARE(AppTest::openCount(QStringLiteral("Trinket.dat")), 1); // loaded and held
        m_window->show();
    }

    // Clicks the grid row that shows the record with this number.
    void select(qint32 id)
    {
        TGridTrinket* grid = m_window->GridTrinket;
        for (int row = 0; row < grid->model()->rowCount(); ++row) {
            const QModelIndex index = grid->model()->index(row, 0);
            if (index.data().toString() == QString::number(id)) {
                QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
                QCOMPARE(AppTest::currentId(*m_window), id);
                return;
            }
        }
        QFAIL("no such record in the grid");
    }

    // Fills the record window and presses OK (or Cancel when pressOk is false).
    void answerEditWindow(const QString& address, const QString& number, bool pressOk = true)
    {
        AppTest::onModal(QStringLiteral("SFEditItem"), [=](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            edit->EdAddr->clear();
            AppTest::typeText(edit->EdAddr, address);
            edit->EdPNum->clear();
            AppTest::typeText(edit->EdPNum, number);
            QTest::mouseClick(pressOk ? edit->BtOk : edit->BtCancel, Qt::LeftButton);
        });
    }

    QByteArray dataFile() const { return AppTest::readFile(QStringLiteral("Trinket.dat")); }

private slots:
    void cleanup()
    {
        m_window.reset();
        m_dir.reset();
        QVERIFY(!AppTest::pendingModalActions());
        QCOMPARE(MessageBoxSeam::unexpectedCount(), 0);
    }

    void addToEmptyRegister()
    {
        start({});
        answerEditWindow(QStringLiteral("ул. Мира, 1"), QStringLiteral("  105 "));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(AppTest::recordCount(*m_window), 1);
        const std::vector<Record> saved = AppTest::recordsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(saved.size(), size_t(1));
        QCOMPARE(saved[0].asInteger(Field::ID_RECORD), 1);
        QCOMPARE(saved[0].asText(Field::PULT_NUM), QByteArray("105"));
        QCOMPARE(saved[0].asText(Field::ADDRESS), utf8("ул. Мира, 1"));
        QVERIFY(saved[0].isNull(Field::ID_TRINK));
        QVERIFY(saved[0].isNull(Field::CODE));
        QVERIFY(saved[0].isNull(Field::CODE_D));
        // The grid shows the new record.
        QCOMPARE(m_window->GridTrinket->model()->index(0, int(Field::PULT_NUM)).data().toString(),
                 QStringLiteral("105"));
    }

    // Keyboard use: Enter on a focused button of the main window presses it.
    void enterPressesTheFocusedButton()
    {
        start({});
        answerEditWindow(QStringLiteral("a"), QStringLiteral("7"));
        m_window->BtAdd->setFocus();
        QTest::keyClick(m_window->BtAdd, Qt::Key_Return);
        QCOMPARE(AppTest::recordCount(*m_window), 1);
    }

    // Numbers continue after the largest loaded one and are never handed out twice in a run.
    void numbering()
    {
        start({AppTest::record(0, "MASTER", {}, 0x5A5A53), AppTest::record(1, "1"), AppTest::record(2, "2"),
               AppTest::record(5, "5")});
        answerEditWindow(QStringLiteral("a"), QStringLiteral("6"));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        // Start-up made the master record current, so the new one is written before it.
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {6, 0, 1, 2, 5}));
        select(6);
        MessageBoxSeam::pushAnswer(ButtonYes);
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Вы действительно хотите удалить запись о пульт. N 6?"));
        answerEditWindow(QStringLiteral("b"), QStringLiteral("7"));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        std::vector<qint32> ids = AppTest::idsIn(QStringLiteral("Trinket.dat"));
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids, (std::vector<qint32> {0, 1, 2, 5, 7}));
    }

    // A new record goes into the file just before the record that was current.
    void newRecordBeforeCurrent()
    {
        start({AppTest::record(1, "1"), AppTest::record(2, "2"), AppTest::record(3, "3")});
        select(2);
        answerEditWindow(QStringLiteral("x"), QStringLiteral("44"));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {1, 4, 2, 3}));
        // The display stays sorted by number.
        QCOMPARE(m_window->GridTrinket->model()->index(3, 0).data().toString(), QStringLiteral("4"));
    }

    void cancelChangesNothing()
    {
        start({AppTest::record(1, "1", "a"), AppTest::record(2, "2", "b")});
        const QByteArray before = dataFile();
        answerEditWindow(QStringLiteral("new"), QStringLiteral("9"), false);
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        select(1);
        answerEditWindow(QStringLiteral("changed"), QStringLiteral("99"), false);
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* w) { w->close(); });
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(dataFile(), before);
        QCOMPARE(AppTest::recordCount(*m_window), 2);
        // Nothing was left pending, and the numbering goes on after the largest number.
        answerEditWindow(QStringLiteral("c"), QStringLiteral("3"));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {3, 1, 2}));
    }

    void editRecord()
    {
        start({AppTest::record(1, "105", utf8("старый адрес")), AppTest::record(2, "106")});
        select(1);
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            // The window comes filled with the record.
            QCOMPARE(edit->EdAddr->text(), QStringLiteral("старый адрес"));
            QCOMPARE(edit->EdPNum->text(), QStringLiteral("105"));
            edit->EdAddr->setText(QStringLiteral("новый адрес"));
            QTest::keyClick(edit->EdPNum, Qt::Key_Return); // own number kept: accepted
        });
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        const std::vector<Record> saved = AppTest::recordsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(saved[0].asText(Field::ADDRESS), utf8("новый адрес"));
        QCOMPARE(saved[0].asText(Field::PULT_NUM), QByteArray("105"));
        QCOMPARE(MessageBoxSeam::shown().size(), 0);
    }

    // The console-number check: normalised in place, refusals keep the window open.
    void consoleNumberCheck()
    {
        start({AppTest::record(0, "MASTER", {}, 0x5A5A53), AppTest::record(1, "105"), AppTest::record(2, "106")});
        MessageBoxSeam::setUnattended(false);
        QStringList seenInField;
        AppTest::onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            const QStringList attempts = {QStringLiteral("  master "), QStringLiteral("   "), QStringLiteral("106 "),
                                          QStringLiteral(" абв-12ё ")};
            for (const QString& attempt : attempts) {
                edit->EdPNum->clear();
                AppTest::typeText(edit->EdPNum, attempt);
                MessageBoxSeam::pushAnswer(ButtonOk);
                QTest::mouseClick(edit->BtOk, Qt::LeftButton);
                seenInField << edit->EdPNum->text();
                if (attempt != attempts.back())
                    QVERIFY(edit->isVisible());
            }
        });
        select(1);
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        QCOMPARE(seenInField,
                 (QStringList {QStringLiteral("MASTER"), QString(), QStringLiteral("106"), QStringLiteral("АБВ-12Ё")}));
        QCOMPARE(MessageBoxSeam::texts(),
                 (QStringList {QStringLiteral("Такой пультовой номер уже существует"),
                               QStringLiteral("Не введен пультовой номер"),
                               QStringLiteral("Такой пультовой номер уже существует")}));
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBoxSeam::last().flags, 0x2010);
        // The record being edited stayed current through the refusals and got the new number.
        QCOMPARE(AppTest::currentId(*m_window), 1);
        QCOMPARE(AppTest::recordsIn(QStringLiteral("Trinket.dat"))[1].asText(Field::PULT_NUM), utf8("АБВ-12Ё"));
        MessageBoxSeam::setUnattended(true);
    }

    // A record numbered below 0 (as a file may hold): the refusal can't find it again by its
    // number, so the record holding the number stays current meanwhile; the accepted change
    // must still reach the record that was opened, never the other one.
    void editOfNegativeNumberedRecordAfterRefusal()
    {
        start({AppTest::record(-5, "105", "own"), AppTest::record(1, "106", "other")});
        select(-5);
        AppTest::onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            edit->EdPNum->clear();
            AppTest::typeText(edit->EdPNum, QStringLiteral("106"));
            MessageBoxSeam::pushAnswer(ButtonOk);
            QTest::mouseClick(edit->BtOk, Qt::LeftButton);
            QVERIFY(edit->isVisible());
            edit->EdPNum->clear();
            AppTest::typeText(edit->EdPNum, QStringLiteral("107"));
            QTest::mouseClick(edit->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Такой пультовой номер уже существует")});
        const std::vector<Record> saved = AppTest::recordsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(saved[0].asInteger(Field::ID_RECORD), -5);
        QCOMPARE(saved[0].asText(Field::PULT_NUM), QByteArray("107"));
        QCOMPARE(saved[1].asText(Field::PULT_NUM), QByteArray("106"));
        QCOMPARE(saved[1].asText(Field::ADDRESS), QByteArray("other"));
        QCOMPARE(AppTest::currentId(*m_window), -5);
    }

    // While adding, a refused duplicate leaves the record that holds the number current.
    void duplicateWhileAdding()
    {
        start({AppTest::record(1, "105"), AppTest::record(2, "106")});
        select(1);
        AppTest::onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            AppTest::typeText(edit->EdPNum, QStringLiteral("106"));
            MessageBoxSeam::pushAnswer(ButtonOk);
            QTest::mouseClick(edit->BtOk, Qt::LeftButton);
            QVERIFY(edit->isVisible());
            QTest::mouseClick(edit->BtCancel, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(AppTest::currentId(*m_window), 2);
        QCOMPARE(AppTest::recordCount(*m_window), 2);
    }

    void deleteAndErase()
    {
        Record full = AppTest::record(1, " 105 ", "a", 0x123453);
        full.setInteger(Field::ID_TRINK_D, 0x654323);
        full.setText(Field::CODE_D, "X0X0X0X0X?");
        start({AppTest::record(0, "MASTER", {}, 0x5A5A53), full, AppTest::record(2, "106")});
        select(1);
        MessageBoxSeam::pushAnswer(ButtonNo);
        QTest::mouseClick(m_window->BtErase, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Стереть информацию о брелке в пульт. N 105?"));
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Предупреждение"));
        QCOMPARE(MessageBoxSeam::last().flags, 0x2034);
        QCOMPARE(AppTest::recordsIn(QStringLiteral("Trinket.dat"))[1].asInteger(Field::ID_TRINK), 0x123453);

        MessageBoxSeam::pushAnswer(ButtonYes);
        QTest::mouseClick(m_window->BtErase, Qt::LeftButton);
        const Record erased = AppTest::recordsIn(QStringLiteral("Trinket.dat"))[1];
        QCOMPARE(erased.asInteger(Field::ID_TRINK), 0);
        QVERIFY(!erased.isNull(Field::ID_TRINK));
        QVERIFY(!erased.isNull(Field::CODE));
        QCOMPARE(erased.asText(Field::CODE), QByteArray());
        QCOMPARE(erased.asInteger(Field::ID_TRINK_D), 0x654323);
        QCOMPARE(erased.asText(Field::CODE_D), QByteArray("X0X0X0X0X?"));

        MessageBoxSeam::pushAnswer(ButtonNo);
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Вы действительно хотите удалить запись о пульт. N 105?"));
        QCOMPARE(AppTest::recordCount(*m_window), 3);
        const qint64 lengthBefore = dataFile().size();
        MessageBoxSeam::pushAnswer(ButtonYes);
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {0, 2}));
        QCOMPARE(dataFile().size(), lengthBefore); // rewritten in place, stale tail kept
    }

    // Delete and erase refuse the master record silently; edit is allowed on it.
    void masterRecordRefusals()
    {
        start({AppTest::record(0, "MASTER", {}, 0x5A5A53), AppTest::record(1, "105")});
        QCOMPARE(AppTest::currentId(*m_window), 0); // the start-up's master lookup made it current
        const QByteArray before = dataFile();
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QTest::mouseClick(m_window->BtErase, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::shown().size(), 0);
        QCOMPARE(dataFile(), before);
        answerEditWindow(QString(), QStringLiteral("master2"));
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        QCOMPARE(AppTest::recordsIn(QStringLiteral("Trinket.dat"))[0].asText(Field::PULT_NUM), QByteArray("MASTER2"));
        QCOMPARE(AppTest::recordsIn(QStringLiteral("Trinket.dat"))[0].asInteger(Field::ID_RECORD), 0);
    }

    // Right after loading a register without a master record the register is at its end:
    // edit, delete and erase do nothing until a record is selected.
    void atEndRefusals()
    {
        start({AppTest::record(1, "105"), AppTest::record(2, "106")});
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QTest::mouseClick(m_window->BtErase, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::shown().size(), 0);
        QVERIFY(!m_window->SFEditItem->isVisible());
        select(2);
        MessageBoxSeam::pushAnswer(ButtonNo);
        QTest::mouseClick(m_window->BtDel, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
    }

    // A data file that can't grow: the add's save fails, the uncaught-error display shows it,
    // the record stays in memory and the program goes on. At shut-down the failed final write
    // leaves the old backup alone.
    void failedSaveIsReported()
    {
        start({AppTest::record(1, "105")});
        QVERIFY(AppTest::writeFile(QStringLiteral("Trinket.bkd"), QByteArray("old backup")));
        const QByteArray before = dataFile();
        FileSizeCap cap(before.size());
        QVERIFY(cap.active());

        answerEditWindow(QStringLiteral("ул. Садовая, 8"), QStringLiteral("106"));
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Stream write error.")});
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
        QCOMPARE(AppTest::recordCount(*m_window), 2);
        QVERIFY(m_window->BtAdd->isEnabled());

        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        m_window.reset();
        cap.lift();
        // The settings store, saving first, can't write either; the final save's box is the
        // writer's own, the old backup stays and the data file is still the last register saved.
        QCOMPARE(
            MessageBoxSeam::texts(),
            (QStringList {QStringLiteral("Failed to create key TFmTavro."), QStringLiteral("Stream write error.")}));
        QCOMPARE(AppTest::readFile(QStringLiteral("Trinket.bkd")), QByteArray("old backup"));
        QCOMPARE(dataFile(), before);
        MessageBoxSeam::clear();
    }

    // Double click on a row edits that record; keys move through the grid.
    void gridGestures()
    {
        start({AppTest::record(3, "C"), AppTest::record(1, "A"), AppTest::record(2, "B")});
        TGridTrinket* grid = m_window->GridTrinket;
        const QModelIndex second = grid->model()->index(1, int(Field::PULT_NUM));
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            QCOMPARE(static_cast<TSFEditItem*>(window)->EdPNum->text(), QStringLiteral("B"));
            window->close();
        });
        const QPoint at = grid->visualRect(second).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(!AppTest::pendingModalActions());
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(AppTest::currentText(*m_window, Field::PULT_NUM), QStringLiteral("C"));
        QTest::keyClick(grid, Qt::Key_Down); // last row: nothing is added
        QTest::keyClick(grid, Qt::Key_Insert);
        QCOMPARE(AppTest::recordCount(*m_window), 3);
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(AppTest::currentText(*m_window, Field::PULT_NUM), QStringLiteral("A"));
    }
};

QM407_APP_TEST_MAIN(TestRegisterEditing)
#include "tst_registerediting.moc"
