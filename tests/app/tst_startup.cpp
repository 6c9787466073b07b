// Start-up, recovery, shut-down, the serial port and the quit request, with real files in a
// temporary folder, a second process holding the data file and the simulator on a pty.
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/quitrequest.h"
#include "app/singleappinstance.h"
#include "sim/simulator.h"
#include "tests/support/apptest.h"
#include "tests/support/filesizecap.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

namespace {
const QString Dat = QStringLiteral("Trinket.dat");
const QString Bkd = QStringLiteral("Trinket.bkd");

TSingleAppInstance* secondInstanceGuard(const TFmTavro& window)
{
    return window.findChild<TSingleAppInstance*>(QStringLiteral("SingleAppInstance"));
}

QList<MessageBoxSeam::Shown> uncaught()
{
    QList<MessageBoxSeam::Shown> list;
    for (const MessageBoxSeam::Shown& s : MessageBoxSeam::shown()) {
        if (s.flags == 0x10)
            list << s;
    }
    return list;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AppTest::WorkDir> m_dir;

    void answerRecovery(const QString& button, bool expectRestoreEnabled)
    {
        AppTest::onModal(QStringLiteral("SFMakeFile"), [=](TAuxWindow* window) {
            auto* recovery = static_cast<TSFMakeFile*>(window);
            QCOMPARE(recovery->BtRestore->isEnabled(), expectRestoreEnabled);
            if (button == QLatin1String("close"))
                recovery->close();
            else
                QTest::mouseClick(recovery->findChild<QPushButton*>(button), Qt::LeftButton);
        });
    }

    void openPortThroughWindow(TFmTavro* window, const QString& name)
    {
        AppTest::onModal(QStringLiteral("SFPort"), [name](TAuxWindow* w) {
            auto* port = static_cast<TSFPort*>(w);
            port->CBPort->setEditText(name);
            QTest::mouseClick(port->BtOkPort, Qt::LeftButton);
        });
        window->NPort->trigger();
        QVERIFY(!AppTest::pendingModalActions());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<AppTest::WorkDir>();
        QuitRequest::reset();
    }
    void cleanup()
    {
        QVERIFY(!AppTest::pendingModalActions());
        AppTest::dropPendingModalActions();
        m_dir.reset();
        QuitRequest::reset();
    }

    // First start: no data file, no backup. "Создать заново" gives an empty register that
    // loads, and the orderly end makes the first backup.
    void firstStartWithoutFiles()
    {
        answerRecovery(QStringLiteral("BtNew"), false);
        auto window = AppTest::makeWindow(true);
        QVERIFY(uncaught().isEmpty());
        QVERIFY(!QuitRequest::requested());
        QCOMPARE(AppTest::openCount(Dat), 1);
        QCOMPARE(AppTest::recordCount(*window), 0);
        QVERIFY(QFile::exists(Dat));
        QVERIFY(!QFile::exists(Bkd));
        window.reset();
        QVERIFY(QFile::exists(Bkd));
        QCOMPARE(AppTest::readFile(Bkd), AppTest::readFile(Dat));
        QCOMPARE(AppTest::recordsIn(Bkd).size(), size_t(0));
    }

    void zeroLengthFileLoadsWithoutRecovery()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        bool recoveryShown = false;
        AppTest::onModal(QStringLiteral("SFMakeFile"), [&](TAuxWindow* w) {
            recoveryShown = true;
            w->close();
        });
        auto window = AppTest::makeWindow();
        QVERIFY(!recoveryShown);
        AppTest::dropPendingModalActions();
        QCOMPARE(AppTest::openCount(Dat), 1);
        QCOMPARE(AppTest::recordCount(*window), 0);
    }

    // The backup is shorter than the damaged data file: the file gets the backup's bytes at its
    // start, keeps its own tail, and loads as the backup's register.
    void restoreFromShorterBackup()
    {
        const QByteArray damaged(4000, char(0xEE));
        const QByteArray backup = AppTest::registerBytes(
            {AppTest::record(0, "MASTER", {}, 0x5A5A53), AppTest::record(7, "105", AppTest::utf8("ул. Мира"))});
        QVERIFY(backup.size() < damaged.size());
        QVERIFY(AppTest::writeFile(Dat, damaged));
        QVERIFY(AppTest::writeFile(Bkd, backup));
        answerRecovery(QStringLiteral("BtRestore"), true);
        auto window = AppTest::makeWindow(true);
        QVERIFY(uncaught().isEmpty());
        QCOMPARE(AppTest::openCount(Dat), 1);
        QCOMPARE(AppTest::recordCount(*window), 2);
        QCOMPARE(AppTest::currentId(*window), 0); // the master lookup found it
        const QByteArray now = AppTest::readFile(Dat);
        QCOMPARE(now.size(), damaged.size());
        QCOMPARE(now.left(backup.size()), backup);
        QCOMPARE(now.mid(backup.size()), damaged.mid(backup.size()));
        QCOMPARE(window->GridTrinket->model()->rowCount(), 2);
        // Numbering goes on after the largest number restored.
        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* w) {
            AppTest::typeText(static_cast<TSFEditItem*>(w)->EdPNum, QStringLiteral("106"));
            QTest::mouseClick(static_cast<TSFEditItem*>(w)->BtOk, Qt::LeftButton);
        });
        QTest::mouseClick(window->BtAdd, Qt::LeftButton);
        QCOMPARE(AppTest::idsIn(Dat), (std::vector<qint32> {8, 0, 7}));
    }

    // Intact records at the start of a damaged file survive "Создать заново".
    void createAnewKeepsIntactRecords()
    {
        const QByteArray whole = AppTest::registerBytes({AppTest::record(1, "101", QByteArray(60, 'a')),
                                                         AppTest::record(2, "102", QByteArray(60, 'b')),
                                                         AppTest::record(3, "103", QByteArray(60, 'c'))});
        const QByteArray damaged = whole.left(whole.size() - 40);
        QVERIFY(AppTest::writeFile(Dat, damaged));
        const std::vector<Record> intact = AppTest::recordsIn(Dat);
        QVERIFY(!intact.empty());
        QVERIFY(intact.size() < 3);
        answerRecovery(QStringLiteral("BtNew"), false);
        auto window = AppTest::makeWindow(true);
        QVERIFY(uncaught().isEmpty());
        QCOMPARE(AppTest::openCount(Dat), 1);
        QCOMPARE(AppTest::recordsIn(Dat), intact);
        std::vector<qint32> intactIds;
        for (const Record& r : intact)
            intactIds.push_back(r.asInteger(Field::ID_RECORD));
        QCOMPARE(AppTest::registerIds(*window), intactIds);
        QCOMPARE(window->GridTrinket->model()->rowCount(), int(intact.size()));
    }

    // Another process holds the data file: the recovery window comes up; "Завершить" ends the
    // program without touching the data file or the backup.
    void dataFileHeldByAnotherProcess()
    {
        const QByteArray data = AppTest::registerBytes({AppTest::record(1, "105")});
        const QByteArray backup = AppTest::registerBytes({AppTest::record(1, "104")});
        QVERIFY(AppTest::writeFile(Dat, data));
        QVERIFY(AppTest::writeFile(Bkd, backup));
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--hold"), QDir::current().filePath(Dat)});
        QVERIFY(holder.waitForReadyRead(20000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

        answerRecovery(QStringLiteral("BtTerminate"), true);
        auto window = AppTest::makeWindow(true);
        QVERIFY(QuitRequest::requested());
        QVERIFY(MessageBoxSeam::shown().isEmpty()); // no port error: the program is ending
        QVERIFY(AppTest::openTerminals().isEmpty());
        QCOMPARE(AppTest::openCount(Dat), 0);
        QCOMPARE(AppTest::recordCount(*window), 0);
        window.reset();
        QCOMPARE(AppTest::readFile(Dat), data);
        QCOMPARE(AppTest::readFile(Bkd), backup);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(20000));
    }

    // Closing the recovery window by its close box leaves the register closed: start-up skips
    // the master lookup quietly, and register commands report the closed register.
    void recoveryClosedByCloseBox()
    {
        QVERIFY(AppTest::writeFile(Bkd, AppTest::registerBytes({AppTest::record(1, "104")})));
        const QByteArray backup = AppTest::readFile(Bkd);
        answerRecovery(QStringLiteral("close"), true);
        auto window = AppTest::makeWindow(true);
        QVERIFY(!QuitRequest::requested());
        QVERIFY(uncaught().isEmpty());
        QCOMPARE(AppTest::recordCount(*window), 0);
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        QTest::mouseClick(window->BtAdd, Qt::LeftButton);
        QTest::mouseClick(window->BtEdit, Qt::LeftButton);
        QTest::mouseClick(window->BtDel, Qt::LeftButton);
        QCOMPARE(MessageBoxSeam::texts(),
                 QStringList {QStringLiteral("MTTrinkets: Cannot perform this operation on a closed dataset.")});
        QVERIFY(!window->SFEditItem->isVisible());
        window.reset();
        QVERIFY(!QFile::exists(Dat));
        QCOMPARE(AppTest::readFile(Bkd), backup);
    }

    void failedRepairsEndTheProgram_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("restore") << QStringLiteral("BtRestore") << QStringLiteral("Не могу восстановить файл данных");
        QTest::newRow("create") << QStringLiteral("BtNew") << QStringLiteral("Не могу создать файл данных");
    }
    void failedRepairsEndTheProgram()
    {
        QFETCH(QString, button);
        QFETCH(QString, message);
        // A folder in the data file's place can be neither loaded, restored nor created.
        QVERIFY(QDir().mkdir(Dat));
        QVERIFY(AppTest::writeFile(Bkd, AppTest::registerBytes({AppTest::record(1, "104")})));
        const QByteArray backup = AppTest::readFile(Bkd);
        answerRecovery(button, true);
        auto window = AppTest::makeWindow(true);
        QCOMPARE(MessageBoxSeam::texts(), QStringList {message});
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBoxSeam::last().flags, 0x2010);
        QVERIFY(QuitRequest::requested());
        QVERIFY(AppTest::openTerminals().isEmpty());
        window.reset();
        QCOMPARE(AppTest::readFile(Bkd), backup);
    }

    // The grid's own Ctrl+Delete writes nothing at once; the end of the run does.
    void shutDownWritesAndBacksUp()
    {
        QVERIFY(AppTest::writeFile(
            Dat, AppTest::registerBytes({AppTest::record(0, "MASTER", {}, 0x5A5A53), AppTest::record(1, "105")})));
        const QByteArray before = AppTest::readFile(Dat);
        auto window = AppTest::makeWindow();
        window->show();
        QCOMPARE(AppTest::currentId(*window), 0);
        MessageBoxSeam::pushAnswer(ButtonCancel);
        QTest::keyClick(window->GridTrinket, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(AppTest::recordCount(*window), 2);
        MessageBoxSeam::pushAnswer(ButtonOk);
        QTest::keyClick(window->GridTrinket, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Delete record?"));
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Confirm"));
        QCOMPARE(MessageBoxSeam::last().flags, 0x21);
        // The master record is deleted too: the grid refuses nothing.
        QCOMPARE(AppTest::recordCount(*window), 1);
        QCOMPARE(AppTest::readFile(Dat), before);
        window.reset();
        QCOMPARE(AppTest::idsIn(Dat), std::vector<qint32> {1});
        QCOMPARE(AppTest::readFile(Bkd), AppTest::readFile(Dat));
        QCOMPARE(MessageBoxSeam::unexpectedCount(), 0);
    }

    // A folder in the backup's place: the data file is saved and the box names the backup.
    void failedBackupIsReported()
    {
        QVERIFY(AppTest::writeFile(Dat, AppTest::registerBytes({AppTest::record(1, "105")})));
        QVERIFY(QDir().mkdir(Bkd));
        auto window = AppTest::makeWindow();
        window.reset();
        QCOMPARE(MessageBoxSeam::texts(),
                 QStringList {QStringLiteral("Резервная копия Trinket.bkd не обновлена. Файл данных сохранён.")});
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(AppTest::idsIn(Dat), std::vector<qint32> {1});
        MessageBoxSeam::clear();
    }

    // The final save of an edit cannot write past a file-size limit below the register's size:
    // the box is the writer's own, the backup is untouched and the data file loads as it was
    // last saved.
    void failedFinalSaveKeepsTheBackup()
    {
        std::vector<Record> records {AppTest::record(1, "105")};
        for (int i = 0; i < 200; ++i)
            records.push_back(AppTest::record(2 + i, QByteArray::number(200 + i), QByteArray(80, 'a')));
        QVERIFY(AppTest::writeFile(Dat, AppTest::registerBytes(records)));
        QVERIFY(AppTest::writeFile(Bkd, AppTest::registerBytes({AppTest::record(1, "104")})));
        const QByteArray data = AppTest::readFile(Dat);
        const QByteArray backup = AppTest::readFile(Bkd);
        QVERIFY(data.size() > 4096);
        auto window = AppTest::makeWindow();
        // A deletion in the grid, saved only at the end, moves every byte after the first record.
        window->show();
        MessageBoxSeam::pushAnswer(ButtonOk);
        QTest::keyClick(window->GridTrinket, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(AppTest::recordCount(*window), 200);
        FileSizeCap cap(4096);
        QVERIFY(cap.active());
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        window.reset();
        cap.lift();
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Stream write error.")});
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
        QCOMPARE(AppTest::readFile(Bkd), backup);
        QCOMPARE(AppTest::readFile(Dat), data);
    }

    // A journal left alone at the load is named in one box; the register loads all the same.
    void journalLeftAloneIsNamed()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        QVERIFY(QDir().mkdir(QStringLiteral("Trinket.dat.journal")));
        auto window = AppTest::makeWindow(true);
        // Only the journal's boxes: a machine without the stored port adds one of its own.
        QList<MessageBoxSeam::Shown> boxes;
        for (const MessageBoxSeam::Shown& box : MessageBoxSeam::shown()) {
            if (box.text.startsWith(QStringLiteral("Журнал сохранения ")))
                boxes << box;
        }
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().caption, QStringLiteral("Ошибка"));
        QVERIFY(boxes.first().text.contains(QStringLiteral("Trinket.dat.journal пропущен")));
        QVERIFY(!QuitRequest::requested());
        QCOMPARE(AppTest::openCount(Dat), 1);
    }

    // A FIFO named Trinket.bkd: the restore is refused at once instead of blocking for good,
    // and the data file keeps what it held.
    void restoreFromFifoFailsAtOnce()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray("damaged")));
        QVERIFY(::mkfifo(QFile::encodeName(Bkd).constData(), 0644) == 0);
        answerRecovery(QStringLiteral("BtRestore"), true);
        auto window = AppTest::makeWindow(true);
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Не могу восстановить файл данных")});
        QVERIFY(QuitRequest::requested());
        window.reset();
        QCOMPARE(AppTest::readFile(Dat), QByteArray("damaged"));
    }

    // "Выход" and Ctrl+X ask to end; a request reaching a modal window closes it with Cancel.
    void quitRequests()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        auto window = AppTest::makeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->NExit->text(), QStringLiteral("Выход(Ctr-X) "));
        window->NExit->trigger();
        QVERIFY(QuitRequest::requested());
        QuitRequest::reset();

        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window->GridTrinket, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(QuitRequest::requested());
        QuitRequest::reset();

        // Also from the search field, which keeps its text; Shift+Delete cuts there.
        auto* search = window->findChild<QLineEdit*>(QStringLiteral("EdSearch"));
        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        AppTest::typeText(search, QStringLiteral("105"));
        search->selectAll();
        QTest::keyClick(search, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(QuitRequest::requested());
        QCOMPARE(search->text(), QStringLiteral("105"));
        QuitRequest::reset();

        // Disabled during a trinket wait, Ctrl+X does nothing, in the field neither.
        window->EnableControls(false);
        QTest::keyClick(window->GridTrinket, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(search, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(!QuitRequest::requested());
        QCOMPARE(search->text(), QStringLiteral("105"));
        window->EnableControls(true);
        QTest::keyClick(search, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(search->text(), QString());
        QVERIFY(!QuitRequest::requested());

        AppTest::onModal(QStringLiteral("SFEditItem"), [](TAuxWindow* w) {
            AppTest::typeText(static_cast<TSFEditItem*>(w)->EdPNum, QStringLiteral("105"));
            QuitRequest::request();
        });
        QTest::mouseClick(window->BtAdd, Qt::LeftButton);
        QVERIFY(QuitRequest::requested());
        QVERIFY(!window->SFEditItem->isVisible());
        QCOMPARE(window->SFEditItem->ModalResult(), int(TAuxWindow::mrCancel));
        QCOMPARE(AppTest::recordCount(*window), 0);
        QuitRequest::reset();

        emit secondInstanceGuard(*window)->secondInstance();
        QVERIFY(QuitRequest::requested());
    }

    // An error while the window is built, outside FormCreate (here the single-instance marker
    // can't be made): shown by the uncaught-error display; nothing is loaded, opened or written,
    // and main() ends without its loop.
    void creationErrorEndsTheProgram()
    {
        const QByteArray data = AppTest::registerBytes({AppTest::record(1, "105")});
        QVERIFY(AppTest::writeFile(Dat, data));
        QTemporaryDir runtime;
        QVERIFY(QDir(runtime.path()).mkdir(QStringLiteral("{DE93EB52-9B04-4347-BDA5-B46D457C1F86}.lock")));
        const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        auto window = AppTest::makeWindow(true);
        qputenv("XDG_RUNTIME_DIR", previous);
        if (!window->CreationFailed())
            QSKIP("the marker no longer fails on a folder in its place");
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
        QCOMPARE(MessageBoxSeam::last().caption, ApplicationTitle());
        QCOMPARE(AppTest::openCount(Dat), 0);
        QVERIFY(AppTest::openTerminals().isEmpty());
        window.reset();
        QCOMPARE(AppTest::readFile(Dat), data);
        QVERIFY(!QFile::exists(Bkd));
    }

    // The real message loop: it ends on "Выход", on the close box, and on a quit request that
    // arrives while a modal window is up; a quit asked before the loop keeps it from starting.
    void mainLoop()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        auto window = AppTest::makeWindow();
        window->show();
        // After the loop, windows of the shut-down (an error box of the final write) must still
        // come up: nothing of the quit may be left over for the next loop.
        const auto laterWindowsStillShow = [&] {
            QCoreApplication::processEvents();
            AppTest::onModal(QStringLiteral("SFPort"), [](TAuxWindow* w) { w->close(); });
            return window->SFPort->ShowModal() == TAuxWindow::mrCancel;
        };

        QTimer::singleShot(0, window.get(), [&] { window->NExit->trigger(); });
        QCOMPARE(QuitRequest::exec(), 0);
        QuitRequest::reset();
        QVERIFY(laterWindowsStillShow());

        window->show();
        QTimer::singleShot(0, window.get(), [&] { window->close(); });
        QCOMPARE(QuitRequest::exec(), 0);
        QVERIFY(!QuitRequest::requested());
        QVERIFY(laterWindowsStillShow());

        window->show();
        AppTest::onModal(QStringLiteral("SFEditItem"),
                         [&](TAuxWindow*) { emit secondInstanceGuard(*window)->secondInstance(); });
        QTimer::singleShot(0, window.get(), [&] { QTest::mouseClick(window->BtAdd, Qt::LeftButton); });
        QCOMPARE(QuitRequest::exec(), 0);
        QVERIFY(!window->SFEditItem->isVisible());
        QCOMPARE(AppTest::recordCount(*window), 0);
        QuitRequest::reset();
        QVERIFY(laterWindowsStillShow());
        QuitRequest::request();

        bool ran = false;
        QTimer::singleShot(0, window.get(), [&] { ran = true; });
        QCOMPARE(QuitRequest::exec(), 0);
        QVERIFY(!ran);
        QuitRequest::reset();
        QCoreApplication::processEvents();
        QVERIFY(ran);
    }

    // The port opens by the text of the port box, whatever way the port window was closed.
    void portFollowsThePortWindow()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        Qm407Simulator sim;
        QVERIFY(sim.start());
        // The simulator keeps its own end open; the tool's open adds one.
        const int simulatorOwn = AppTest::openCount(sim.slavePath());
        auto window = AppTest::makeWindow();
        QCOMPARE(window->SFPort->CBPort->currentText(), QStringLiteral("COM1"));

        // Typed with blanks around it.
        openPortThroughWindow(window.get(), u' ' + sim.slavePath() + QStringLiteral("  "));
        QVERIFY(MessageBoxSeam::shown().isEmpty());
        QCOMPARE(AppTest::openCount(sim.slavePath()), simulatorOwn + 1);

        // Closing by the close box with the same name reopens the same port.
        AppTest::onModal(QStringLiteral("SFPort"), [](TAuxWindow* w) { w->close(); });
        window->NPortClick();
        QCOMPARE(AppTest::openCount(sim.slavePath()), simulatorOwn + 1);

        openPortThroughWindow(window.get(), QStringLiteral("COM99"));
        QCOMPARE(AppTest::openCount(sim.slavePath()), simulatorOwn);
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBoxSeam::last().flags, 0x2010);
        QVERIFY(!MessageBoxSeam::last().text.isEmpty());

        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        openPortThroughWindow(window.get(), QString());
        QCOMPARE(AppTest::openCount(sim.slavePath()), simulatorOwn);
        QCOMPARE(MessageBoxSeam::shown().size(), 1);
        QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
    }

    // "Определить" sets the model from the controller; a failure reaches the uncaught-error
    // display and leaves the choice alone.
    void defineModelFromOptionsWindow()
    {
        QVERIFY(AppTest::writeFile(Dat, QByteArray()));
        Qm407Simulator sim;
        sim.setVersion(2, 0);
        QVERIFY(sim.start());
        auto window = AppTest::makeWindow();
        window->Close(); // whatever COM1 is on this machine

        AppTest::onModal(QStringLiteral("SFOptions"), [](TAuxWindow* w) {
            auto* options = static_cast<TSFOptions*>(w);
            QTest::mouseClick(options->BtDefModel, Qt::LeftButton);
            QVERIFY(options->isVisible());
            QTest::mouseClick(options->BtOKOpt, Qt::LeftButton);
        });
        window->N3->trigger();
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Ошибка чтения из COM порта.")});
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
        QCOMPARE(window->SFOptions->RGModel->ItemIndex(), 0);

        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        openPortThroughWindow(window.get(), sim.slavePath());
        AppTest::onModal(QStringLiteral("SFOptions"), [](TAuxWindow* w) {
            auto* options = static_cast<TSFOptions*>(w);
            QTest::mouseClick(options->BtDefModel, Qt::LeftButton);
            w->close();
        });
        window->N3->trigger();
        QVERIFY(MessageBoxSeam::shown().isEmpty());
        QCOMPARE(window->SFOptions->RGModel->ItemIndex(), 1);
        QVERIFY(sim.received().startsWith(QByteArray("\x53\x10", 2)));
    }
};

QM407_APP_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
