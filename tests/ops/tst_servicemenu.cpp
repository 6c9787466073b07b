// The "Сервис" menu as an installer uses it, against the simulated controller: files compared
// byte for byte, the compare after the memory changed, the options and the read-back.
#include "app/auxwindow.h"
#include "app/filedialog.h"
#include "app/formstorage.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/servicemenu.h"
#include "tests/support/apptest.h"
#include "tests/support/opsrig.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

using OpsTest::record;

namespace {

using Fixtures::hex;

TServiceMenu* serviceMenu(const TFmTavro& window)
{
    return window.findChild<TServiceMenu*>(QStringLiteral("ServiceMenu"));
}

void trigger(QAction* action)
{
    QVERIFY(action->isEnabled());
    action->trigger();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<Record> twoInstallations()
{
    return {record(0, "MASTER", 0x0AB123), record(1, "101")};
}

// Reads the journal or the dump and runs `inside` while its window is up.
void readInto(OpsRig& rig, QAction* command, const QString& windowName, std::function<void()> inside = {})
{
    rig.onModal(windowName, [inside](TAuxWindow* window) {
        if (inside)
            inside();
        window->reject();
    });
    trigger(command);
}

} // namespace

class TestServiceMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void items();
    void journalFiles();
    void journalPrintPreview();
    void imageAndCompare();
    void checkAfterWrite();
    void traceOption();

private:
    QTemporaryDir m_state;
};

void TestServiceMenu::initTestCase()
{
    qputenv("XDG_STATE_HOME", m_state.path().toLocal8Bit());
}

void TestServiceMenu::init()
{
    FileDialogSeam::clear();
}

void TestServiceMenu::items()
{
    OpsRig rig(twoInstallations());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    TServiceMenu* s = serviceMenu(w);
    QStringList texts;
    for (QAction* a : w.NService->actions())
        texts << a->text();
    QCOMPARE(
        texts,
        (QStringList {QStringLiteral("Экспорт реестра в CSV..."), QStringLiteral("Импорт из CSV..."), QString(),
                      QStringLiteral("Сохранить журнал в текстовый файл..."),
                      QStringLiteral("Сохранить журнал в CSV..."), QStringLiteral("Печать журнала..."), QString(),
                      QStringLiteral("Сохранить образ EEPROM..."), QStringLiteral("Сравнить с образцом..."), QString(),
                      QStringLiteral("Трассировка обмена с QM407"), QStringLiteral("Проверять запись параметров")}));
    // Both options are off in a new store; nothing read yet, nothing to keep.
    QVERIFY(!s->NSerialTrace->isChecked());
    QVERIFY(!s->NCheckParamWrite->isChecked());
    for (QAction* a : {s->NSaveJournalText, s->NSaveJournalCsv, s->NPrintJournal, s->NSaveImage})
        QVERIFY(!a->isEnabled());

    // The one command that talks to the controller is off during a trinket wait.
    bool offDuringWait = false;
    AppTest::selectRegisterRow(w, 1);
    rig.pressTrinkets({0x3C5A93}, [&] { offDuringWait = !s->NCompareImage->isEnabled(); });
    trigger(w.ActSetTrinket);
    QVERIFY(offDuringWait);
    QVERIFY(s->NCompareImage->isEnabled());
}

void TestServiceMenu::journalFiles()
{
    OpsRig rig(twoInstallations());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    TServiceMenu* s = serviceMenu(w);
    AppTest::selectRegisterRow(w, 1);
    rig.sim.setVersion(2, 0); // 37 entries
    rig.sim.setJournalEntry(0, 0x63, 1500);
    rig.sim.setJournalEntry(36, 0x1F, 59);

    const QString text = rig.folder.filePath(QStringLiteral("out/j.txt"));
    const QString csv = rig.folder.filePath(QStringLiteral("out/j.csv"));
    QDir().mkpath(rig.folder.filePath(QStringLiteral("out")));
    FileDialogSeam::pushAnswer(text);
    QList<QAction*> contextItems;
    // Saved from the journal window's context menu while it is up.
    readInto(rig, w.NJournal, QStringLiteral("SFJournal"), [&] {
        std::unique_ptr<QMenu> menu(s->contextMenu(w.SFJournal->MmJournal));
        contextItems = menu->actions();
        trigger(s->NSaveJournalText);
    });
    QVERIFY(contextItems.contains(s->NSaveJournalText) && contextItems.contains(s->NSaveJournalCsv)
            && contextItems.contains(s->NPrintJournal));
    // And from the menu afterwards.
    FileDialogSeam::pushAnswer(csv);
    trigger(s->NSaveJournalCsv);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);

    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString folder = rig.folder.filePath(QStringLiteral("101"));
    QCOMPARE(FileDialogSeam::proposed(),
             (QStringList {folder + QStringLiteral("/Журнал_101_") + today + QStringLiteral(".txt"),
                           folder + QStringLiteral("/Журнал_101_") + today + QStringLiteral(".csv")}));

    QByteArray expectedText("\xEF\xBB\xBF"
                            "Взятие (3), прошло 1дн 1ч 0мин c начала работы\r\n");
    QByteArray expectedCsv("\xEF\xBB\xBF"
                           "№;Код;Событие;Минуты;Время\r\n"
                           "0;99;Взятие (3);1500;1дн 1ч 0мин\r\n");
    for (int i = 1; i < 36; ++i) {
        expectedText += "Unknown, прошло 0дн 0ч 0мин c начала работы\r\n";
        expectedCsv += QByteArray::number(i) + ";0;Unknown;0;0дн 0ч 0мин\r\n";
    }
    expectedText += "Замыкание датчика (15), прошло 0дн 0ч 59мин c начала работы\r\n";
    expectedCsv += "36;31;Замыкание датчика (15);59;0дн 0ч 59мин\r\n";
    QCOMPARE(readAll(text), expectedText);
    QCOMPARE(readAll(csv), expectedCsv);
}

void TestServiceMenu::journalPrintPreview()
{
    OpsRig rig(twoInstallations());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    readInto(rig, w.NJournal, QStringLiteral("SFJournal"));
    bool previewed = false;
    QTimer closer;
    closer.setInterval(10);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget())) {
            previewed = true;
            preview->reject();
        }
    });
    closer.start();
    trigger(serviceMenu(w)->NPrintJournal);
    closer.stop();
    QVERIFY(previewed);
    QCOMPARE(MessageBoxSeam::shown().size(), 0);
}

void TestServiceMenu::imageAndCompare()
{
    OpsRig rig(twoInstallations());
    QVERIFY(rig.ready());
    TFmTavro& w = rig.window();
    TServiceMenu* s = serviceMenu(w);
    AppTest::selectRegisterRow(w, 1);
    for (int a = 0; a < 256; ++a)
        rig.sim.setCell(a, quint8(255 - a));
    readInto(rig, w.EEPROM, QStringLiteral("SFROM"));
    // Cancelled dialogs leave no folder behind.
    FileDialogSeam::pushAnswer(QString());
    trigger(s->NSaveImage);
    FileDialogSeam::pushAnswer(QString());
    trigger(s->NCompareImage);
    QCOMPARE(FileDialogSeam::proposed().size(), 2);
    QVERIFY(!QFileInfo::exists(rig.folder.filePath(QStringLiteral("101"))));
    FileDialogSeam::clear();

    const QString image = rig.folder.filePath(QStringLiteral("101/first.bin"));
    FileDialogSeam::pushAnswer(image);
    trigger(s->NSaveImage);
    QCOMPARE(FileDialogSeam::proposed().size(), 1);
    const QString proposed = FileDialogSeam::proposed().first();
    QCOMPARE(QFileInfo(proposed).absolutePath(), rig.folder.filePath(QStringLiteral("101")));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d{6}\\.bin$"))
                 .match(QFileInfo(proposed).fileName())
                 .hasMatch(),
             qPrintable(proposed));
    QByteArray memory;
    for (int a = 0; a < 256; ++a)
        memory.append(char(255 - a));
    QCOMPARE(readAll(image), memory);
    const QByteArray dumpText = readAll(rig.folder.filePath(QStringLiteral("101/first.txt")));
    QVERIFY(dumpText.startsWith("\xEF\xBB\xBF"
                                "0000  FF FE FD FC FB FA F9 F8 \r\n"
                                "0008  F7 F6 F5 F4 F3 F2 F1 F0 \r\n"));
    QVERIFY(dumpText.endsWith("00F8  07 06 05 04 03 02 01 00 \r\n"));
    QCOMPARE(dumpText.size(), 3 + 32 * 32);

    // The text beside an image is replaced only when the installer says so; No writes neither.
    const QString other = rig.folder.filePath(QStringLiteral("101/other.bin"));
    const QString otherText = rig.folder.filePath(QStringLiteral("101/other.txt"));
    QVERIFY(Fixtures::writeFile(otherText, "notes"));
    FileDialogSeam::pushAnswer(other);
    MessageBoxSeam::pushAnswer(ButtonNo);
    trigger(s->NSaveImage);
    QCOMPARE(MessageBoxSeam::texts(),
             QStringList {QStringLiteral("Файл ") + QDir::toNativeSeparators(otherText)
                          + QStringLiteral(" уже существует. Заменить?")});
    QVERIFY(!QFile::exists(other));
    QCOMPARE(readAll(otherText), QByteArray("notes"));
    // An image named *.txt keeps its bytes; the text goes under a name of its own.
    const QString named = rig.folder.filePath(QStringLiteral("101/image.txt"));
    FileDialogSeam::pushAnswer(named);
    trigger(s->NSaveImage);
    QCOMPARE(readAll(named), memory);
    QCOMPARE(readAll(named + QStringLiteral(".txt")), dumpText);
    MessageBoxSeam::clear();

    // From the dump window the dump shown is compared: detection only on the wire.
    QString shown;
    rig.onModal(QStringLiteral("SFROM"), [&](TAuxWindow* window) {
        rig.sim.clearLog();
        rig.onModal(QStringLiteral("SFCompare"), [&](TAuxWindow* compare) {
            shown = s->SFCompare->MmCompare->toPlainText();
            compare->reject();
        });
        FileDialogSeam::pushAnswer(image);
        std::unique_ptr<QMenu> menu(s->contextMenu(w.SFROM->MmROM));
        QVERIFY(menu->actions().contains(s->NCompareImage) && menu->actions().contains(s->NSaveImage));
        trigger(s->NCompareImage);
        window->reject();
    });
    trigger(w.EEPROM);
    QCOMPARE(shown, QStringLiteral("Образец: first.bin\nКарта памяти: QM407\nОтличий нет"));
    QCOMPARE(rig.sim.received(), hex("5310"));

    // The controller changes; the menu's compare reads it anew.
    rig.sim.setVersion(2, 0);
    rig.sim.setCell(29, 0x11);
    rig.sim.setCell(14, 0x00);
    rig.sim.clearLog();
    rig.onModal(QStringLiteral("SFCompare"), [&](TAuxWindow* window) {
        shown = s->SFCompare->MmCompare->toPlainText();
        window->reject();
    });
    FileDialogSeam::pushAnswer(image);
    trigger(s->NCompareImage);
    QCOMPARE(shown,
             QStringLiteral("Образец: first.bin\n"
                            "Карта памяти: QM407M\n"
                            "Отличаются ячеек: 2\n"
                            "0x0E (14): образец F1, устройство 00 — зона 7, режим\n"
                            "0x1D (29): образец E2, устройство 11 — флаги"));
    QByteArray reads;
    for (int a = 0; a < 256; ++a)
        reads += hex("5314") + char(a);
    QCOMPARE(rig.sim.received(), hex("5310") + reads);

    // A file that is no image is refused before the controller is asked anything.
    rig.sim.clearLog();
    FileDialogSeam::pushAnswer(rig.folder.filePath(QStringLiteral("101/first.txt")));
    trigger(s->NCompareImage);
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QVERIFY(MessageBoxSeam::last().text.startsWith(QStringLiteral("Файл не является образом EEPROM (256 байт)")));
    QCOMPARE(rig.sim.received(), QByteArray());
}

void TestServiceMenu::checkAfterWrite()
{
    const auto writeParams = [](OpsRig& rig) {
        TFmTavro& w = rig.window();
        rig.onModal(QStringLiteral("SFParams"), [&w](TAuxWindow*) {
            w.SFParams->SensMode1->setCurrentIndex(1);
            w.SFParams->SensMode2->setCurrentIndex(2);
            w.SFParams->BtWrParams->click();
        });
        trigger(w.NSetParam);
    };
    // Off: the wire carries the write as it always did, nothing read back.
    QByteArray written;
    {
        OpsRig rig;
        QVERIFY(rig.ready());
        writeParams(rig);
        written = rig.sim.received();
        QVERIFY(written.endsWith(hex("5315")));
        QCOMPARE(written.count(hex("5314")), 0);
    }

    OpsRig rig;
    QVERIFY(rig.ready());
    TServiceMenu* s = serviceMenu(rig.window());
    s->NCheckParamWrite->trigger();
    QVERIFY(s->NCheckParamWrite->isChecked());
    Qm407Simulator::Fault dropped;
    dropped.kind = Qm407Simulator::Fault::DropWrite;
    dropped.afterCount = 2;
    dropped.times = 1;
    rig.sim.setFault(0x13, dropped);
    writeParams(rig);
    QVERIFY(rig.sim.received().startsWith(written));
    QCOMPARE(rig.sim.received().size(), written.size() + 9 * 3);
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QCOMPARE(MessageBoxSeam::last().caption, QStringLiteral("Ошибка"));
    QCOMPARE(MessageBoxSeam::last().text,
             QStringLiteral("Параметры записаны не полностью, ячейки:\n"
                            "0x04 (4): записано 02, прочитано 00 — зона 2, режим"));

    // Kept in a group of its own, beside the window's values.
    std::unique_ptr<QSettings> store = TFormStorage::openStore();
    QCOMPARE(store->value(QStringLiteral("Service/CheckParamWrite")).toString(), QStringLiteral("1"));
    QVERIFY(!store->contains(QStringLiteral("TFmTavro/CheckParamWrite")));
}

void TestServiceMenu::traceOption()
{
    const QString file
        = m_state.filePath(QStringLiteral("qm407tool/serial-")
                           + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log"));
    QFile::remove(file);
    {
        OpsRig rig;
        QVERIFY(rig.ready());
        TFmTavro& w = rig.window();
        trigger(serviceMenu(w)->NSerialTrace);
        w.BtDefModelClick();
        QVERIFY(QFile::exists(file));
        // Remembered for the next run.
        std::unique_ptr<QSettings> store = TFormStorage::openStore();
        QCOMPARE(store->value(QStringLiteral("Service/SerialTrace")).toString(), QStringLiteral("1"));
        serviceMenu(w)->NSerialTrace->trigger();
        w.BtDefModelClick();
    }
    const QStringList lines = QString::fromUtf8(readAll(file)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(QStringLiteral(" -> 53 10")));
    QVERIFY(lines[1].endsWith(QStringLiteral(" <- 00 01 55")));
}

QM407_APP_TEST_MAIN(TestServiceMenu)

#include "tst_servicemenu.moc"
