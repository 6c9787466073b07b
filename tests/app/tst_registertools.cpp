// The register search, export and import through the real main window, its grid and the data
// file on disk.
#include "app/filedialog.h"
#include "app/gridtrinket.h"
#include "app/importpreview.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/registermodel.h"
#include "tests/support/apptest.h"
#include "tests/support/filesizecap.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <algorithm>

using AppTest::utf8;

class TestRegisterTools : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AppTest::WorkDir> m_dir;
    std::unique_ptr<TFmTavro> m_window;

    void start()
    {
        m_dir = std::make_unique<AppTest::WorkDir>();
        Record coded = AppTest::record(5, "500", "x");
        coded.setText(Field::CODE_D, "X?1X0X10X?");
        const std::vector<Record> records = {
            AppTest::record(1, "105", utf8("ул. Мира, 7"), 0x2B7E53),
            AppTest::record(2, "200", utf8("пр. Победы")),
            AppTest::record(3, utf8("МИР-3"), utf8("ул. Садовая")),
            AppTest::record(4, "400", utf8("пер. Мирный")),
            coded,
        };
        QVERIFY(AppTest::writeFile(QStringLiteral("Trinket.dat"), AppTest::registerBytes(records)));
        m_window = AppTest::makeWindow();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QLineEdit* search() const { return m_window->findChild<QLineEdit*>(QStringLiteral("EdSearch")); }
    QString found() const { return m_window->findChild<QLabel*>(QStringLiteral("LbFound"))->text(); }
    QStringList shownNumbers() const
    {
        QStringList numbers;
        const QAbstractItemModel* model = m_window->GridTrinket->model();
        for (int row = 0; row < model->rowCount(); ++row)
            numbers << model->index(row, int(Field::PULT_NUM)).data().toString();
        return numbers;
    }
    // The record the grid shows selected; -1 when none is.
    qint32 selectedId() const
    {
        const QModelIndexList rows = m_window->GridTrinket->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows[0].data().toInt() : -1;
    }
    void clickRow(int row)
    {
        TGridTrinket* grid = m_window->GridTrinket;
        const QRect rect = grid->visualRect(grid->model()->index(row, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QAction* item(const char* name) const { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QByteArray dataFile() const { return AppTest::readFile(QStringLiteral("Trinket.dat")); }
    // The record the commands act on, as "Изменить..." opens it; -1 when it opens nothing.
    qint32 currentId()
    {
        QString number;
        AppTest::onModal(QStringLiteral("SFEditItem"), [&number](TAuxWindow* window) {
            number = static_cast<TSFEditItem*>(window)->EdPNum->text();
            window->close();
        });
        QTest::mouseClick(m_window->BtEdit, Qt::LeftButton);
        if (AppTest::pendingModalActions()) {
            AppTest::dropPendingModalActions();
            return -1;
        }
        const QAbstractItemModel* model = m_window->GridModel;
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, int(Field::PULT_NUM)).data().toString() == number)
                return model->index(row, int(Field::ID_RECORD)).data().toInt();
        }
        return -1;
    }

private slots:
    void cleanup()
    {
        m_window.reset();
        m_dir.reset();
        QVERIFY(!AppTest::pendingModalActions());
        QCOMPARE(MessageBoxSeam::unexpectedCount(), 0);
        QCOMPARE(FileDialogSeam::unexpectedCount(), 0);
    }

    void searchFiltersAsOneTypes()
    {
        start();
        TFmTavro* w = m_window.get();
        const QByteArray before = dataFile();
        QAbstractItemModelTester tester(w->GridTrinket->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(search()->geometry(), QRect(568, 202, 165, 21));
        QVERIFY(search()->geometry().bottom() < w->BtErase->geometry().top());
        QVERIFY(search()->geometry().top() > w->BtSetParm->geometry().bottom());
        QCOMPARE(found(), QString());

        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w->GridTrinket, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(search()->hasFocus());
        AppTest::typeText(search(), QStringLiteral("мир"));
        QCOMPARE(shownNumbers(), (QStringList {QStringLiteral("105"), QStringLiteral("МИР-3"), QStringLiteral("400")}));
        QCOMPARE(found(), QStringLiteral("найдено 3 из 5"));
        search()->clear();
        AppTest::typeText(search(), QStringLiteral("x?1x"));
        QCOMPARE(shownNumbers(), QStringList {QStringLiteral("500")});
        QCOMPARE(found(), QStringLiteral("найдено 1 из 5"));

        QTest::keyClick(search(), Qt::Key_Escape);
        QCOMPARE(search()->text(), QString());
        QCOMPARE(shownNumbers().size(), 5);
        QCOMPARE(found(), QString());
        QTest::keyClick(search(), Qt::Key_Escape);
        QVERIFY(w->GridTrinket->hasFocus());
        QCOMPARE(AppTest::recordCount(*w), 5);
        QCOMPARE(dataFile(), before);
        QCOMPARE(MessageBoxSeam::shown().size(), 0);
    }

    // What the person sees selected is what the commands act on, whatever the search hides.
    void commandsActOnTheSelectedRow()
    {
        start();
        TFmTavro* w = m_window.get();
        clickRow(1);
        QCOMPARE(currentId(), 2);
        search()->setText(QStringLiteral("мир")); // hides record 2
        QCOMPARE(selectedId(), 1);
        QCOMPARE(currentId(), 1);
        MessageBoxSeam::pushAnswer(ButtonNo);
        QTest::mouseClick(w->BtDel, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Вы действительно хотите удалить запись о пульт. N 105?"));

        // An edit that makes the selected record leave the search: the first shown row is selected.
        clickRow(2);
        QCOMPARE(currentId(), 4);
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            auto* edit = static_cast<TSFEditItem*>(window);
            edit->EdAddr->setText(QStringLiteral("пер. Тихий"));
            QTest::mouseClick(edit->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(w->BtEdit, Qt::LeftButton);
        QCOMPARE(AppTest::recordsIn(QStringLiteral("Trinket.dat"))[3].asText(Field::ADDRESS), utf8("пер. Тихий"));
        QCOMPARE(shownNumbers(), (QStringList {QStringLiteral("105"), QStringLiteral("МИР-3")}));
        QTRY_COMPARE(currentId(), 1);
        QCOMPARE(selectedId(), 1);
        QTRY_COMPARE(found(), QStringLiteral("найдено 2 из 5"));

        // Nothing shown: nothing selected, and edit, delete and erase do nothing.
        const QByteArray before = dataFile();
        search()->setText(QStringLiteral("нет такого"));
        QCOMPARE(found(), QStringLiteral("найдено 0 из 5"));
        QCOMPARE(selectedId(), -1);
        QCOMPARE(currentId(), -1); // the register is at its end
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) { window->close(); });
        for (QPushButton* button : {w->BtEdit, w->BtDel, w->BtErase})
            QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(AppTest::pendingModalActions());
        AppTest::dropPendingModalActions();
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
        // Back to everything: the first row is selected and current again.
        search()->clear();
        QCOMPARE(selectedId(), 1);
        QCOMPARE(currentId(), 1);
        QCOMPARE(dataFile(), before);
    }

    void serviceItems()
    {
        start();
        TFmTavro* w = m_window.get();
        QAction* exportItem = item("NExportCsv");
        QAction* importItem = item("NImportCsv");
        QCOMPARE(exportItem->text(), QStringLiteral("Экспорт реестра в CSV..."));
        QCOMPARE(importItem->text(), QStringLiteral("Импорт из CSV..."));
        QVERIFY(w->NService->actions().contains(exportItem) && w->NService->actions().contains(importItem));
        QVERIFY(importItem->isEnabled() && exportItem->isEnabled()); // a wait switches the import off (tst_opswindow)
    }

    void exportThenImport()
    {
        start();
        TFmTavro* w = m_window.get();
        const QString csv = m_dir->path(QStringLiteral("реестр.csv"));
        FileDialogSeam::pushAnswer(csv);
        item("NExportCsv")->trigger();
        QCOMPARE(FileDialogSeam::asked().last().caption, QStringLiteral("Экспорт реестра в CSV"));
        const QByteArray exported = AppTest::readFile(csv);
        QVERIFY(exported.startsWith("\xEF\xBB\xBFN;"));
        QCOMPARE(exported.count("\r\n"), 6);

        // Back into the same register: every row is refused, nothing can be added.
        const QByteArray before = dataFile();
        FileDialogSeam::pushAnswer(csv);
        QStringList seen;
        AppTest::onModal(QStringLiteral("SFImportPreview"), [&seen](TAuxWindow* window) {
            auto* preview = static_cast<TSFImportPreview*>(window);
            seen << preview->LbAccepted->text() << preview->LbRefused->text()
                 << preview->GridRefused->model()->index(0, 3).data().toString()
                 << QString::number(preview->BtImportOk->isEnabled());
            QTest::keyClick(preview, Qt::Key_Escape);
        });
        item("NImportCsv")->trigger();
        QVERIFY(!AppTest::pendingModalActions());
        QCOMPARE(seen,
                 (QStringList {QStringLiteral("Будут добавлены: 0"), QStringLiteral("Отклонены: 5"),
                               QStringLiteral("Такой пультовой номер уже существует"), QStringLiteral("0")}));

        // Two new rows and a known one; cancelled first, then confirmed.
        const QString other = m_dir->path(QStringLiteral("other.csv"));
        QVERIFY(AppTest::writeFile(other,
                                   QByteArray("N;Пульт. N;Адрес;Брелок 2;Брелок 3\r\n"
                                              "1;600;\"ул. Новая; 1\";;\r\n"
                                              "2;200;x;;\r\n"
                                              "3;700;ул. Новая, 2;X?1X0X10X?;\r\n")));
        // The grid takes the import as one reset, not a signal per row.
        QSignalSpy resets(w->GridModel, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(w->GridModel, &QAbstractItemModel::rowsInserted);
        for (const bool confirm : {false, true}) {
            FileDialogSeam::pushAnswer(other);
            seen.clear();
            AppTest::onModal(QStringLiteral("SFImportPreview"), [confirm, &seen](TAuxWindow* window) {
                auto* preview = static_cast<TSFImportPreview*>(window);
                seen << preview->LbAccepted->text() << preview->LbRefused->text();
                QTest::mouseClick(confirm ? preview->BtImportOk : preview->BtImportCancel, Qt::LeftButton);
            });
            item("NImportCsv")->trigger();
            QVERIFY(!AppTest::pendingModalActions());
            QCOMPARE(seen, (QStringList {QStringLiteral("Будут добавлены: 2"), QStringLiteral("Отклонены: 1")}));
            if (!confirm) {
                QCOMPARE(dataFile(), before);
                QCOMPARE(AppTest::recordCount(*w), 5);
            }
        }
        const std::vector<Record> saved = AppTest::recordsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(saved[5].asText(Field::ADDRESS), utf8("ул. Новая; 1"));
        QCOMPARE(saved[6].asText(Field::CODE), QByteArray("X?1X0X10X?"));
        QCOMPARE(saved[6].asInteger(Field::ID_TRINK), 7150691);
        QCOMPARE(w->GridTrinket->model()->rowCount(), 7);
        QCOMPARE(resets.count(), 1);
        QCOMPARE(inserts.count(), 0);
        QCOMPARE(MessageBoxSeam::shown().size(), 0);
        // Numbering goes on after the imported records.
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* window) {
            AppTest::typeText(static_cast<TSFEditItem*>(window)->EdPNum, QStringLiteral("800"));
            QTest::mouseClick(static_cast<TSFEditItem*>(window)->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(w->BtAdd, Qt::LeftButton);
        const std::vector<qint32> ids = AppTest::idsIn(QStringLiteral("Trinket.dat"));
        QCOMPARE(*std::max_element(ids.begin(), ids.end()), 8);
    }

    // The save after an import cannot grow the file: the writer's box, then the register goes
    // back to what the file holds, and a second box says the import was not kept.
    void failedSaveDropsTheImport()
    {
        start();
        const QByteArray before = dataFile();
        const QString csv = m_dir->path(QStringLiteral("new.csv"));
        QVERIFY(
            AppTest::writeFile(csv, QByteArray("N;Пульт. N;Адрес;Брелок 2;Брелок 3\r\n1;600;a;;\r\n2;700;b;;\r\n")));
        FileSizeCap cap(before.size());
        QVERIFY(cap.active());
        FileDialogSeam::pushAnswer(csv);
        AppTest::onModal(QStringLiteral("SFImportPreview"), [](TAuxWindow* window) {
            QTest::mouseClick(static_cast<TSFImportPreview*>(window)->BtImportOk, Qt::LeftButton);
        });
        item("NImportCsv")->trigger();
        cap.lift();
        QCOMPARE(MessageBoxSeam::texts(),
                 (QStringList {QStringLiteral("Stream write error."),
                               QStringLiteral("Импорт не сохранён: реестр возвращён к файлу данных")}));
        QCOMPARE(AppTest::recordCount(*m_window), 5);
        QCOMPARE(dataFile(), before);
        MessageBoxSeam::clear();
        m_window.reset();
        QCOMPARE(AppTest::idsIn(QStringLiteral("Trinket.dat")), (std::vector<qint32> {1, 2, 3, 4, 5}));
    }

    void hostileImportChangesNothing()
    {
        start();
        const QByteArray before = dataFile();
        const QString bad = m_dir->path(QStringLiteral("bad.csv"));
        QVERIFY(AppTest::writeFile(bad,
                                   QByteArray("N;Пульт. N;Адрес;Брелок 2;Брелок 3\r\n"
                                              "1;600;\"ул. Новая; 1;;\r\n")));
        FileDialogSeam::pushAnswer(bad);
        MessageBoxSeam::pushAnswer(ButtonOk);
        item("NImportCsv")->trigger();
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Незакрытая кавычка в строке 2"));
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(AppTest::recordCount(*m_window), 5);
        QCOMPARE(dataFile(), before);
        // A cancelled file dialog does nothing at all.
        FileDialogSeam::pushAnswer(QString());
        item("NImportCsv")->trigger();
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
        // An export that cannot be written says so.
        FileDialogSeam::pushAnswer(m_dir->path(QStringLiteral("missing/out.csv")));
        MessageBoxSeam::pushAnswer(ButtonOk);
        item("NExportCsv")->trigger();
        QVERIFY2(MessageBoxSeam::last().text.startsWith(QStringLiteral("Не могу создать файл ")),
                 qPrintable(MessageBoxSeam::last().text));
    }
};

QM407_APP_TEST_MAIN(TestRegisterTools)
#include "tst_registertools.moc"
