// The main window's design and routing: controls, menus, actions, EnableControls and the grid.
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/registermodel.h"
#include "tests/support/apptest.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>

class TestMainWindow : public QObject
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
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QStringList column(int field) const
    {
        QStringList values;
        const QAbstractItemModel* model = m_window->GridTrinket->model();
        for (int row = 0; row < model->rowCount(); ++row)
            values << model->index(row, field).data().toString();
        return values;
    }

private slots:
    void cleanup()
    {
        m_window.reset();
        m_dir.reset();
        QVERIFY(!AppTest::pendingModalActions());
    }

    void design()
    {
        start({});
        TFmTavro* w = m_window.get();
        QCOMPARE(w->windowTitle(), QStringLiteral("Установщик параметров QM407"));
        QCOMPARE(w->centralWidget()->size(), QSize(736, 412));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->font().pixelSize(), 11);
        QCOMPARE(w->GridTrinket->geometry(), QRect(0, 0, 561, 409));
        // Centred on the screen at start, with nothing stored.
        const QPoint screenCentre = w->screen()->availableGeometry().center();
        QVERIFY2(
            (w->frameGeometry().center() - screenCentre).manhattanLength() <= 8,
            qPrintable(
                QStringLiteral("%1,%2").arg(w->frameGeometry().center().x()).arg(w->frameGeometry().center().y())));

        const QList<std::tuple<QPushButton*, int, QString, QString>> buttons = {
            {w->BtSetTrink, 104, QStringLiteral("Установить брелки (F2)"), QString()},
            {w->BtTestTrinket, 136, QStringLiteral("Проверить брелок (F3)"), QString()},
            {w->BtSetParm, 168, QStringLiteral("Установить параметры..."), QString()},
            {w->BtErase, 256, QStringLiteral("Стереть..."),
             QStringLiteral("Стирание информации об установленном брелке в выбранном экземпляре QM407")},
            {w->BtAdd, 288, QStringLiteral("Добавить..."), QStringLiteral("Ввод информации о новом экземпляре QM407")},
            {w->BtEdit, 320, QStringLiteral("Изменить..."),
             QStringLiteral("Изменение информации о выбранном экземпляре QM407")},
            {w->BtDel, 352, QStringLiteral("Удалить..."), QStringLiteral("Удаление выбранного экземпляра QM407")},
        };
        for (const auto& [button, y, caption, hint] : buttons) {
            QCOMPARE(button->geometry(), QRect(568, y, 165, 25));
            QCOMPARE(button->text(), caption);
            QCOMPARE(button->toolTip(), hint);
            QCOMPARE(w->findChild<QPushButton*>(button->objectName()), button);
        }
        // Focus order: grid, F2, F3, erase, add, edit, delete, parameters.
        const QList<QWidget*> order = {w->GridTrinket, w->BtSetTrink, w->BtTestTrinket, w->BtErase,
                                       w->BtAdd,       w->BtEdit,     w->BtDel,         w->BtSetParm};
        for (int i = 1; i < order.size(); ++i) {
            QWidget* next = order[i - 1]->nextInFocusChain();
            while (next && w->GridTrinket->isAncestorOf(next))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i]);
        }
        // Every auxiliary window and its controls are found from the main window.
        for (const char* name : {"SFEditItem",   "SFJournal",     "SFROM",
                                 "SFOptions",    "SFPort",        "SFParams",
                                 "SFSetupTrink", "SFMakeFile",    "SFTrinketDefine",
                                 "EdPNum",       "OpDelay7",      "CBPort",
                                 "RGModel",      "RGNumTrink",    "SensMode7",
                                 "CBNoMAT",      "MmJournal",     "LbSetupTrink",
                                 "BtTerminate",  "MmTrinkDefine", "GridTrinketID_TRINK_D"})
            QVERIFY2(w->findChild<QObject*>(QLatin1String(name)), name);
    }

    void menusAndActions()
    {
        start({});
        TFmTavro* w = m_window.get();
        const QList<QAction*> top = w->menuBar()->actions();
        QCOMPARE(top.size(), 4);
        QCOMPARE(top[0]->text(), QStringLiteral("Система"));
        QCOMPARE(top[1]->text(), QStringLiteral("QM407"));
        QCOMPARE(top[2], w->NTrinket);
        QCOMPARE(top[3]->text(), QStringLiteral("Сервис"));
        QCOMPARE(w->NTrinket->text(), QStringLiteral("Брелок"));
        QCOMPARE(w->NTrinket->menu(), nullptr);

        const QList<QAction*> system = w->N1->actions();
        QCOMPARE(system, (QList<QAction*> {w->N3, w->NPort, w->N2, w->NExit}));
        QCOMPARE(w->N3->text(), QStringLiteral("Опции"));
        QCOMPARE(w->NPort->text(), QStringLiteral("Порт"));
        QVERIFY(w->N2->isSeparator());
        QCOMPARE(w->NExit->text(), QStringLiteral("Выход(Ctr-X) "));
        QCOMPARE(w->NExit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));

        QCOMPARE(w->NQM407->actions(),
                 (QList<QAction*> {w->NSetMaster, w->NClrCnt, w->NSetParam, w->NVersion, w->NJournal, w->EEPROM}));
        QCOMPARE(w->NSetMaster->text(), QStringLiteral("Установить брелок-мастер..."));
        QCOMPARE(w->NClrCnt->text(), QStringLiteral("Очистить счетчик"));
        QCOMPARE(w->NSetParam->text(), QStringLiteral("Установить параметры..."));
        QCOMPARE(w->NVersion->text(), QStringLiteral("Считать версию..."));
        QCOMPARE(w->NJournal->text(), QStringLiteral("Считать журнал..."));
        QCOMPARE(w->EEPROM->text(), QStringLiteral("Считать EEPROM..."));
        for (QAction* item : w->NQM407->actions())
            QVERIFY(item->shortcut().isEmpty());

        QCOMPARE(w->ActSetTrinket->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(w->ActTestTrinket->shortcut(), QKeySequence(Qt::Key_F3));
        QVERIFY(w->ActSetParms->shortcut().isEmpty());

        // The button, the menu item and the key all trigger the action; its device handler is
        // someone else's test, so it is unhooked here.
        for (QAction* action : {w->ActSetTrinket, w->ActTestTrinket, w->ActSetParms})
            QVERIFY(disconnect(action, &QAction::triggered, w, nullptr));
        QSignalSpy parms(w->ActSetParms, &QAction::triggered);
        QTest::mouseClick(w->BtSetParm, Qt::LeftButton);
        w->NSetParam->trigger();
        QCOMPARE(parms.size(), 2);
        QSignalSpy enrol(w->ActSetTrinket, &QAction::triggered);
        QSignalSpy test(w->ActTestTrinket, &QAction::triggered);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->GridTrinket->setFocus();
        QTest::keyClick(w->GridTrinket, Qt::Key_F2);
        QTest::keyClick(w->GridTrinket, Qt::Key_F3);
        QTest::mouseClick(w->BtSetTrink, Qt::LeftButton);
        QCOMPARE(enrol.size(), 2);
        QCOMPARE(test.size(), 1);

        // "Брелок" shows the jumper explanation.
        AppTest::onModal(QStringLiteral("SFTrinketDefine"), [](TAuxWindow* window) { window->close(); });
        w->NTrinket->trigger();
        QVERIFY(!AppTest::pendingModalActions());
    }

    // Exactly the eleven items switch; the grid, "Опции" and the close box stay usable.
    void enableControls()
    {
        start({AppTest::record(1, "105")});
        TFmTavro* w = m_window.get();
        const QList<QAction*> actions = {w->NPort,         w->NQM407->menuAction(), w->NExit,      w->NTrinket,
                                         w->ActSetTrinket, w->ActTestTrinket,       w->ActSetParms};
        const QList<QPushButton*> buttons
            = {w->BtSetTrink, w->BtTestTrinket, w->BtSetParm, w->BtErase, w->BtAdd, w->BtEdit, w->BtDel};
        w->EnableControls(false);
        for (QAction* a : actions)
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        for (QPushButton* b : buttons)
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        QVERIFY(!w->NSetParam->isEnabled());
        QVERIFY(w->GridTrinket->isEnabled());
        QVERIFY(w->N1->menuAction()->isEnabled());
        QVERIFY(w->N3->isEnabled());
        QVERIFY(w->NSetMaster->isEnabled()); // unreachable while its menu is off
        QVERIFY(disconnect(w->ActSetTrinket, &QAction::triggered, w, nullptr));
        QSignalSpy enrol(w->ActSetTrinket, &QAction::triggered);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w->GridTrinket, Qt::Key_F2);
        QCOMPARE(enrol.size(), 0);

        // The grid's double click still edits during a wait.
        const QModelIndex row = w->GridTrinket->model()->index(0, 0);
        const QPoint at = w->GridTrinket->visualRect(row).center();
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) { window->close(); });
        QTest::mouseClick(w->GridTrinket->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w->GridTrinket->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(!AppTest::pendingModalActions());

        w->EnableControls(true);
        for (QAction* a : actions)
            QVERIFY(a->isEnabled());
        for (QPushButton* b : buttons)
            QVERIFY(b->isEnabled());
        QVERIFY(w->NSetParam->isEnabled());
    }

    void gridDesign()
    {
        start({AppTest::record(1, "105", AppTest::utf8("ул. Мира, д. 12, очень длинный адрес склада"), 0x123453)});
        TGridTrinket* grid = m_window->GridTrinket;
        QAbstractItemModel* model = grid->model();
        const QStringList headers = {QStringLiteral("N"),
                                     QString(),
                                     QString(),
                                     QStringLiteral("Брелок 2"),
                                     QStringLiteral("Брелок 3"),
                                     QStringLiteral("Пульт. N"),
                                     QStringLiteral("Адрес")};
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), headers[c]);
            QCOMPARE(grid->isColumnHidden(c), c == 1 || c == 2);
        }
        QVERIFY(grid->horizontalHeader()->font().bold());
        QVERIFY(grid->horizontalHeader()->defaultAlignment() & Qt::AlignHCenter);
        QVERIFY(!grid->verticalHeader()->isVisible());
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->textElideMode(), Qt::ElideRight);
        QVERIFY(!(model->flags(model->index(0, 6)) & Qt::ItemIsEditable));
        QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("0X1X0X10X?"));

        // The visible columns fill the grid in the design's proportion 32 : 87 : 87 : 71 : 288.
        int sum = 0;
        for (int c : {0, 3, 4, 5, 6})
            sum += grid->columnWidth(c);
        QCOMPARE(sum, grid->viewport()->width());
        const double scale = grid->viewport()->width() / 565.0;
        QVERIFY(qAbs(grid->columnWidth(6) - 288 * scale) <= 2);
        QVERIFY(qAbs(grid->columnWidth(0) - 32 * scale) <= 2);

        // Widths by column name, hidden ones included, for the settings store.
        TGridColumn* hidden = grid->findChild<TGridColumn*>(QStringLiteral("GridTrinketID_TRINK"));
        QVERIFY(hidden);
        QCOMPARE(hidden->property("Width").toInt(), 179);
        hidden->setProperty("Width", 150);
        QCOMPARE(hidden->Width(), 150);
        TGridColumn* address = grid->Column(int(Field::ADDRESS));
        TGridColumn* number = grid->Column(int(Field::PULT_NUM));
        number->SetWidth(200);
        QVERIFY(number->Width() > grid->columnWidth(3));
        sum = 0;
        for (int c : {0, 3, 4, 5, 6})
            sum += grid->columnWidth(c);
        QCOMPARE(sum, grid->viewport()->width());
        QVERIFY(address->Width() > 0);

        // Dragging a border takes from the next column; the grid stays full.
        grid->horizontalHeader()->resizeSection(0, grid->columnWidth(0) + 20);
        sum = 0;
        for (int c : {0, 3, 4, 5, 6})
            sum += grid->columnWidth(c);
        QCOMPARE(sum, grid->viewport()->width());
    }

    // Sorted by number at start and by any column on a header click; the register's row
    // order, and so the data file, stay as they are.
    void gridSorting()
    {
        start({AppTest::record(5, "B", "x"), AppTest::record(1, "C", "y"), AppTest::record(3, "A", "z")});
        QAbstractItemModelTester tester(m_window->GridTrinket->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(column(0), (QStringList {QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("5")}));
        QHeaderView* header = m_window->GridTrinket->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(5) + 5, header->height() / 2));
        QCOMPARE(column(5), (QStringList {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(5) + 5, header->height() / 2));
        QCOMPARE(column(5), (QStringList {QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
        QCOMPARE(AppTest::registerIds(*m_window), (std::vector<qint32> {5, 1, 3}));

        // Selecting a sorted row makes exactly that record current: the edit opens it.
        const QModelIndex first = m_window->GridTrinket->model()->index(0, 5);
        QTest::mouseClick(m_window->GridTrinket->viewport(), Qt::LeftButton, {},
                          m_window->GridTrinket->visualRect(first).center());
        QCOMPARE(AppTest::currentText(*m_window, Field::PULT_NUM), QStringLiteral("C"));

        // An edited record moves to its sorted place; the selection stays on it.
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            QCOMPARE(edit->EdPNum->text(), QStringLiteral("C"));
            edit->EdPNum->setText(QStringLiteral("0"));
            QTest::mouseClick(edit->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        QVERIFY(!AppTest::pendingModalActions());
        QCOMPARE(column(5).last(), QStringLiteral("0"));
        const QModelIndex current = m_window->GridTrinket->currentIndex();
        QCOMPARE(current.row(), 2);
        QVERIFY(m_window->GridTrinket->selectionModel()->isRowSelected(2, QModelIndex()));
    }

    // A large register: one reset on load, no signal per record; a header sort works on it
    // (its speed is bench_grid's to measure).
    void largeRegister()
    {
        std::vector<Record> records;
        records.reserve(100000);
        for (qint32 id = 100000; id >= 1; --id)
            records.push_back(AppTest::record(id, QByteArray::number(id * 7 % 100003), "address"));
        start(records);
        QCOMPARE(m_window->GridTrinket->model()->rowCount(), 100000);
        QCOMPARE(m_window->GridTrinket->model()->index(0, 0).data().toString(), QStringLiteral("1"));
        QHeaderView* header = m_window->GridTrinket->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(5) + 5, header->height() / 2));
        QCoreApplication::processEvents();
        QCOMPARE(m_window->GridTrinket->model()->index(0, 5).data().toString(), QStringLiteral("1"));
        // Numbering goes on after the largest number loaded.
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            AppTest::typeText(static_cast<TSFEditItem*>(window)->EdPNum, QStringLiteral("N1"));
            QTest::mouseClick(static_cast<TSFEditItem*>(window)->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->BtAdd, Qt::LeftButton);
        QCOMPARE(m_window->GridModel->rowCount(), 100001);
        // Read back once the window has let the file go: Windows holds it with no sharing.
        m_window.reset();
        const std::vector<qint32> ids = AppTest::idsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(ids.size(), size_t(100001));
        QCOMPARE(*std::max_element(ids.begin(), ids.end()), 100001);
    }
};

QM407_APP_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
