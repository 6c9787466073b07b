// The nine auxiliary windows on their own: design, limits, keys and the modal protocol.
#include "app/auxwindows.h"
#include "app/messagebox.h"
#include "tests/support/apptest.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <stdexcept>

class TestAuxWindows : public QObject
{
    Q_OBJECT

private:
    QWidget* m_main = nullptr;

private slots:
    void init()
    {
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        m_main = new QWidget;
        m_main->setGeometry(100, 100, 736, 412);
        m_main->show();
    }
    void cleanup()
    {
        delete m_main;
        QVERIFY(!AppTest::pendingModalActions());
    }

    void captionsSizesAndFrames_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("resizable");
        QTest::newRow("SFEditItem") << QStringLiteral("Место установки QM407") << QSize(417, 110) << false;
        QTest::newRow("SFJournal") << QStringLiteral("Журнал событий") << QSize(385, 238) << true;
        QTest::newRow("SFROM") << QStringLiteral("Содержимое EEPROM") << QSize(313, 230) << true;
        QTest::newRow("SFOptions") << QStringLiteral("Опции") << QSize(289, 126) << false;
        QTest::newRow("SFPort") << QStringLiteral("Порт связи") << QSize(130, 108) << false;
        QTest::newRow("SFParams") << QStringLiteral("Параметры устройства") << QSize(356, 337) << false;
        QTest::newRow("SFSetupTrink") << QString() << QSize(189, 126) << false;
        QTest::newRow("SFMakeFile") << QStringLiteral("Ошибка открытия базы данных") << QSize(289, 150) << false;
        QTest::newRow("SFTrinketDefine") << QStringLiteral("Перемычки, разрываемые в брелке") << QSize(293, 214)
                                         << false;
    }
    void captionsSizesAndFrames()
    {
        QFETCH(QString, caption);
        QFETCH(QSize, size);
        QFETCH(bool, resizable);
        const QList<TAuxWindow*> all
            = {new TSFEditItem(m_main),   new TSFJournal(m_main),  new TSFROM(m_main),
               new TSFOptions(m_main),    new TSFPort(m_main),     new TSFParams(m_main),
               new TSFSetupTrink(m_main), new TSFMakeFile(m_main), new TSFTrinketDefine(m_main)};
        auto* window = m_main->findChild<TAuxWindow*>(QLatin1String(QTest::currentDataTag()));
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), caption);
        QCOMPARE(window->size(), size);
        QCOMPARE(window->minimumSize() == window->maximumSize(), !resizable);
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags & Qt::Dialog);
        QCOMPARE(bool(flags & Qt::WindowMaximizeButtonHint), resizable);
        QCOMPARE(bool(flags & Qt::WindowMinimizeButtonHint), resizable);
        if (window->objectName() == QLatin1String("SFSetupTrink")) {
            QVERIFY(flags & Qt::WindowStaysOnTopHint);
            QVERIFY(!(flags & Qt::WindowTitleHint));
            QVERIFY(!(flags & Qt::WindowCloseButtonHint));
        } else {
            QVERIFY(flags & Qt::WindowCloseButtonHint);
        }
        QCOMPARE(window->font().pixelSize(), 11);
        QVERIFY(!window->isVisible());
        qDeleteAll(all);
    }

    void editWindowControlsAndLimits()
    {
        TSFEditItem w(m_main);
        QCOMPARE(w.LbAddr->text(), QStringLiteral("Адрес:"));
        QCOMPARE(w.LbPultNum->text(), QStringLiteral("Пультовой номер:"));
        QCOMPARE(w.BtOk->text(), QStringLiteral("OK"));
        QCOMPARE(w.BtCancel->text(), QStringLiteral("Отмена"));
        QCOMPARE(w.defaultButton(), w.BtOk);
        QCOMPARE(w.cancelButton(), w.BtCancel);
        AppTest::typeText(w.EdAddr, QString(100, QChar(0x0416)));
        QCOMPARE(w.EdAddr->text().size(), 80);
        QTest::keyClicks(w.EdPNum, QString(50, QLatin1Char('7')));
        QCOMPARE(w.EdPNum->text().size(), 32);
        QCOMPARE(w.BtOk->nextInFocusChain(), w.BtCancel);
        QCOMPARE(w.BtCancel->nextInFocusChain(), w.EdAddr);
        QCOMPARE(w.EdAddr->nextInFocusChain(), w.EdPNum);
    }

    // Enter presses OK; Esc, "Отмена" and the close box all give Cancel.
    void editWindowModalResults_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("enter") << "enter" << 1;
        QTest::newRow("ok") << "ok" << 1;
        QTest::newRow("escape") << "escape" << 2;
        QTest::newRow("cancel button") << "cancel" << 2;
        QTest::newRow("close box") << "close" << 2;
    }
    void editWindowModalResults()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        TSFEditItem w(m_main);
        AppTest::onModal(QStringLiteral("SFEditItem"), [how](TAuxWindow* window) {
            auto* item = static_cast<TSFEditItem*>(window);
            if (how == QLatin1String("enter"))
                QTest::keyClick(item->EdPNum, Qt::Key_Return);
            else if (how == QLatin1String("ok"))
                QTest::mouseClick(item->BtOk, Qt::LeftButton);
            else if (how == QLatin1String("escape"))
                QTest::keyClick(item->EdAddr, Qt::Key_Escape);
            else if (how == QLatin1String("cancel"))
                QTest::mouseClick(item->BtCancel, Qt::LeftButton);
            else
                item->close();
        });
        QCOMPARE(w.ShowModal(), result);
        QVERIFY(!w.isVisible());
        QVERIFY(!w.IsShowingModally());
    }

    // A handler that sets no result keeps the window open; an error in a handler is shown
    // and the window still closes with the button's result.
    void handlerResultsAndErrors()
    {
        TSFEditItem w(m_main);
        int clicks = 0;
        w.setClickHandler(w.BtOk, [&] {
            if (++clicks == 1)
                w.SetModalResult(TAuxWindow::mrNone);
        });
        AppTest::onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow*) {
            QTest::mouseClick(w.BtOk, Qt::LeftButton);
            QVERIFY(w.isVisible());
            QTest::mouseClick(w.BtOk, Qt::LeftButton);
        });
        QCOMPARE(w.ShowModal(), 1);
        QCOMPARE(clicks, 2);

        TSFParams p(m_main);
        p.setClickHandler(p.BtWrParams, [] { throw std::runtime_error("Нет ответа от QM407"); });
        AppTest::clickWhenShown(QStringLiteral("SFParams"), QStringLiteral("BtWrParams"));
        QCOMPARE(p.ShowModal(), 1);
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Нет ответа от QM407.")});
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
    }

    // A window already on the screen is not shown again: ShowModal gives 0 at once.
    void showModalRefusedWhileShown()
    {
        TSFEditItem w(m_main);
        int nested = -1;
        AppTest::onModal(QStringLiteral("SFEditItem"), [&](TAuxWindow*) {
            nested = w.ShowModal();
            w.Show();
            w.Hide();
            QVERIFY(w.isVisible());
            w.SetModalResult(TAuxWindow::mrOk);
        });
        QCOMPARE(w.ShowModal(), 1);
        QCOMPARE(nested, 0);

        w.Show();
        QVERIFY(w.isVisible());
        QCOMPARE(w.ShowModal(), 0);
        w.Hide();
        QVERIFY(!w.isVisible());
    }

    void resizableWindowKeepsEnlargedSize()
    {
        TSFJournal w(m_main);
        AppTest::onModal(QStringLiteral("SFJournal"), [](TAuxWindow* window) {
            window->resize(500, 400);
            window->close();
        });
        QCOMPARE(w.ShowModal(), 2);
        AppTest::onModal(QStringLiteral("SFJournal"), [](TAuxWindow* window) {
            QCOMPARE(window->size(), QSize(500, 400));
            QTest::keyClick(window, Qt::Key_Escape);
        });
        QCOMPARE(w.ShowModal(), 2);
        // The memo follows the window.
        QCOMPARE(w.MmJournal->size(), QSize(500, 400));
        QVERIFY(w.MmJournal->isReadOnly());
        QCOMPARE(w.MmJournal->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(w.MmJournal->lineWrapMode(), QPlainTextEdit::WidgetWidth);

        TSFROM rom(m_main);
        QCOMPARE(rom.MmROM->toPlainText(), QStringLiteral("MmROM"));
        QVERIFY(!rom.MmROM->isReadOnly());
        QVERIFY(rom.MmROM->font().styleHint() == QFont::TypeWriter);
        QCOMPARE(rom.MmROM->font().pixelSize(), 11);
    }

    void centredOverMainWindow()
    {
        TSFOptions w(m_main);
        AppTest::onModal(QStringLiteral("SFOptions"), [this](TAuxWindow* window) {
            QVERIFY(qAbs(window->frameGeometry().center().x() - m_main->frameGeometry().center().x()) <= 2);
            QVERIFY(qAbs(window->frameGeometry().center().y() - m_main->frameGeometry().center().y()) <= 2);
            window->close();
        });
        w.ShowModal();
    }

    // A choice in the options window stays however the window is closed.
    void optionsWindow()
    {
        TSFOptions w(m_main);
        QCOMPARE(w.RGModel->title(), QStringLiteral("Модель"));
        QCOMPARE(w.RGModel->button(0)->text(), QStringLiteral("QM407"));
        QCOMPARE(w.RGModel->button(1)->text(), QStringLiteral("QM407M"));
        QCOMPARE(w.RGNumTrink->title(), QStringLiteral("Количество брелков"));
        QCOMPARE(w.RGNumTrink->button(1)->text(), QStringLiteral("Мастер + 2"));
        QCOMPARE(w.RGModel->ItemIndex(), 0);
        QCOMPARE(w.RGNumTrink->ItemIndex(), 0);
        QCOMPARE(w.BtOKOpt->text(), QStringLiteral("Закрыть"));
        QCOMPARE(w.BtDefModel->text(), QStringLiteral("Определить"));
        QCOMPARE(w.defaultButton(), w.BtOKOpt);

        AppTest::onModal(QStringLiteral("SFOptions"), [&](TAuxWindow* window) {
            QTest::mouseClick(w.RGModel->button(1), Qt::LeftButton);
            window->close();
        });
        QCOMPARE(w.ShowModal(), 2);
        QCOMPARE(w.RGModel->ItemIndex(), 1);
        QCOMPARE(w.RGModel->property("ItemIndex").toInt(), 1);
        w.RGModel->setProperty("ItemIndex", -1);
        QCOMPARE(w.RGModel->ItemIndex(), -1);
        w.RGModel->setItemIndex(0);
        QCOMPARE(w.RGModel->ItemIndex(), 0);
        AppTest::clickWhenShown(QStringLiteral("SFOptions"), QStringLiteral("BtOKOpt"));
        QCOMPARE(w.ShowModal(), 1);
    }

    void portWindow()
    {
        TSFPort w(m_main);
        QCOMPARE(w.CBPort->count(), 8);
        QCOMPARE(w.CBPort->itemText(7), QStringLiteral("COM8"));
        QCOMPARE(w.CBPort->currentText(), QStringLiteral("COM1"));
        QCOMPARE(w.CBPort->currentIndex(), -1);
        QVERIFY(w.CBPort->isEditable());
        QCOMPARE(w.BtOkPort->text(), QStringLiteral("Закрыть"));
        // A typed name is kept as typed and Enter closes the window without adding it to the list.
        AppTest::onModal(QStringLiteral("SFPort"), [&](TAuxWindow*) {
            w.CBPort->lineEdit()->selectAll();
            QTest::keyClicks(w.CBPort->lineEdit(), QStringLiteral("COM9"));
            QTest::keyClick(w.CBPort->lineEdit(), Qt::Key_Return);
        });
        QCOMPARE(w.ShowModal(), 1);
        QCOMPARE(w.CBPort->currentText(), QStringLiteral("COM9"));
        QCOMPARE(w.CBPort->count(), 8);
    }

    void parametersWindow()
    {
        TSFParams w(m_main);
        const QStringList modes {QStringLiteral("Выключена"),      QStringLiteral("С взятием под охрану"),
                                 QStringLiteral("Круглосуточная"), QStringLiteral("Блокирующая"),
                                 QStringLiteral("Выключающая"),    QStringLiteral("Пожарная")};
        for (int zone = 1; zone <= 7; ++zone) {
            QComboBox* mode = w.SensMode(zone);
            QCOMPARE(mode->objectName(), QStringLiteral("SensMode%1").arg(zone));
            QCOMPARE(mode->count(), 6);
            for (int i = 0; i < mode->count(); ++i)
                QCOMPARE(mode->itemText(i), modes.at(i));
            QCOMPARE(mode->maxVisibleItems(), 5);
            QCOMPARE(mode->currentIndex(), -1);
            QVERIFY(mode->isEditable());
            QSpinBox* delay = w.OpDelay(zone);
            QCOMPARE(delay->objectName(), QStringLiteral("OpDelay%1").arg(zone));
            QCOMPARE(delay->value(), zone == 1 ? 30 : 0);
            QCOMPARE(delay->minimum(), 0);
            QCOMPARE(delay->maximum(), 255);
            QCOMPARE(w.LbSens[size_t(zone - 1)]->text(), QStringLiteral("Зона %1:").arg(zone));
        }
        QCOMPARE(w.CloseDelay->value(), 30);
        // Typed and stepped values stay within 0..255.
        w.OpDelay2->selectAll();
        QTest::keyClicks(w.OpDelay2, QStringLiteral("999"));
        QVERIFY(w.OpDelay2->value() <= 255);
        w.OpDelay3->setValue(255);
        QTest::keyClick(w.OpDelay3, Qt::Key_Up);
        QCOMPARE(w.OpDelay3->value(), 255);
        w.OpDelay3->setValue(0);
        QTest::keyClick(w.OpDelay3, Qt::Key_Down);
        QCOMPARE(w.OpDelay3->value(), 0);

        QCOMPARE(w.EnBypass->text(), QStringLiteral("Разрешение пропуска:"));
        QCOMPARE(w.CBDisExtCode->text(), QStringLiteral("Разрешение НСД:"));
        QCOMPARE(w.CBAutoClose->text(), QStringLiteral("Автовзятие:"));
        QCOMPARE(w.CBIndicOnlyAlarm->text(), QStringLiteral("Индикатор только тревоги:"));
        QCOMPARE(w.CBNoMAT->text(), QStringLiteral("Без передатчика:"));
        QCOMPARE(w.LbCloseDel->text(), QStringLiteral("Задержка на выход:"));
        // The whole caption toggles the box, as with the box on the left.
        QTest::mouseClick(w.CBNoMAT, Qt::LeftButton, {}, QPoint(10, 8));
        QVERIFY(w.CBNoMAT->isChecked());
        QCOMPARE(w.defaultButton(), w.BtWrParams);
        QCOMPARE(w.cancelButton(), w.BtCancelParams);

        // Closing without "Записать" keeps what was entered.
        AppTest::onModal(QStringLiteral("SFParams"), [&](TAuxWindow*) {
            w.SensMode4->setCurrentIndex(3);
            QTest::mouseClick(w.BtCancelParams, Qt::LeftButton);
        });
        QCOMPARE(w.ShowModal(), 2);
        QCOMPARE(w.SensMode4->currentIndex(), 3);
    }

    // What "Записать" sends is read from the controls; the model decides what may be changed.
    void parametersForAModel()
    {
        TSFParams w(m_main);
        w.SensMode1->setCurrentIndex(5);
        w.SensMode2->setEditText(QStringLiteral("Пожарная"));
        w.SensMode3->setEditText(QStringLiteral("Охрана"));
        w.OpDelay7->setValue(200);
        w.CloseDelay->setValue(7);
        for (QCheckBox* box : {w.EnBypass, w.CBDisExtCode, w.CBAutoClose, w.CBIndicOnlyAlarm, w.CBNoMAT})
            box->setChecked(true);
        DeviceOps::ZoneParams p = w.params();
        QCOMPARE(p.modes, (std::array<int, 7> {5, 5, -1, -1, -1, -1, -1}));
        QCOMPARE(p.delays, (std::array<int, 7> {30, 0, 0, 0, 0, 0, 200}));
        QCOMPARE(p.closeDelay, 7);
        QVERIFY(p.enBypass && p.disExtCode && p.autoClose && p.indicOnlyAlarm && p.noMat);

        // A box naming no mode shows "Выключена"; zones 4..7 and the options only on a QM407M.
        const QList<QWidget*> qm407m {w.SensMode4,    w.SensMode7,   w.OpDelay4,         w.OpDelay7,
                                      w.CBDisExtCode, w.CBAutoClose, w.CBIndicOnlyAlarm, w.CBNoMAT};
        w.prepareFor(Model::QM407);
        QCOMPARE(w.SensMode3->currentText(), QStringLiteral("Выключена"));
        QCOMPARE(w.SensMode2->currentIndex(), 5);
        for (QWidget* control : qm407m)
            QVERIFY(!control->isEnabled());
        QVERIFY(w.SensMode3->isEnabled() && w.EnBypass->isEnabled());
        p = w.params();
        QCOMPARE(p.modes, (std::array<int, 7> {5, 5, 0, 0, 0, 0, 0}));
        // A disabled "Разрешение НСД:" counts as unchecked; the other disabled boxes count.
        QVERIFY(!p.disExtCode);
        QVERIFY(p.autoClose && p.indicOnlyAlarm && p.noMat);
        w.prepareFor(Model::QM407M);
        for (QWidget* control : qm407m)
            QVERIFY(control->isEnabled());
        QVERIFY(w.params().disExtCode);
    }

    void waitWindowShownWithoutModality()
    {
        TSFSetupTrink w(m_main);
        QVERIFY(w.LbSetupTrink->wordWrap());
        QVERIFY(w.LbSetupTrink->alignment() & Qt::AlignHCenter);
        int cancels = 0;
        w.setClickHandler(w.BtTrinkCancel, [&] { ++cancels; });
        w.Show();
        QVERIFY(w.isVisible());
        QVERIFY(!w.IsShowingModally());
        QVERIFY(m_main->isEnabled());
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(cancels, 1);
        QVERIFY(w.isVisible()); // no modal result: the wait hides it, not the button
        w.Hide();
        QVERIFY(!w.isVisible());
        w.Show();
        QVERIFY(w.isVisible());
        w.Hide();
    }

    void recoveryWindowButtons()
    {
        TSFMakeFile w(m_main);
        QCOMPARE(w.BtRestore->text(), QStringLiteral("Восстановить из копии"));
        QCOMPARE(w.BtNew->text(), QStringLiteral("Создать заново"));
        QCOMPARE(w.BtTerminate->text(), QStringLiteral("Завершить"));
        QStringList ran;
        w.setClickHandler(w.BtRestore, [&] { ran << QStringLiteral("restore"); });
        w.setClickHandler(w.BtNew, [&] { ran << QStringLiteral("new"); });
        w.setClickHandler(w.BtTerminate, [&] { ran << QStringLiteral("terminate"); });

        AppTest::onModal(QStringLiteral("SFMakeFile"),
                         [](TAuxWindow* window) { QTest::keyClick(window, Qt::Key_Return); });
        QCOMPARE(w.ShowModal(), 1);
        AppTest::clickWhenShown(QStringLiteral("SFMakeFile"), QStringLiteral("BtNew"));
        QCOMPARE(w.ShowModal(), 1);
        AppTest::onModal(QStringLiteral("SFMakeFile"),
                         [](TAuxWindow* window) { QTest::keyClick(window, Qt::Key_Escape); });
        QCOMPARE(w.ShowModal(), 2);
        AppTest::onModal(QStringLiteral("SFMakeFile"), [](TAuxWindow* window) { window->close(); });
        QCOMPARE(w.ShowModal(), 2);
        QCOMPARE(ran, (QStringList {QStringLiteral("restore"), QStringLiteral("new"), QStringLiteral("terminate")}));

        // A disabled restore button is not pressed by Enter: the focused button is.
        w.BtRestore->setEnabled(false);
        AppTest::onModal(QStringLiteral("SFMakeFile"), [&w](TAuxWindow*) {
            w.BtNew->setFocus();
            QTest::keyClick(w.BtNew, Qt::Key_Return);
        });
        QCOMPARE(w.ShowModal(), 1);
        QCOMPARE(ran.size(), 4);
        QCOMPARE(ran.back(), QStringLiteral("new"));
        w.BtRestore->setEnabled(true);

        // Enter on a focused button presses that button, never the default one behind it.
        AppTest::onModal(QStringLiteral("SFMakeFile"), [&w](TAuxWindow*) {
            w.BtTerminate->setFocus();
            QTest::keyClick(w.BtTerminate, Qt::Key_Return);
        });
        QCOMPARE(w.ShowModal(), 2);
        AppTest::onModal(QStringLiteral("SFMakeFile"), [&w](TAuxWindow*) {
            w.BtNew->setFocus();
            QTest::keyClick(w.BtNew, Qt::Key_Enter, Qt::KeypadModifier);
        });
        QCOMPARE(w.ShowModal(), 1);
        QCOMPARE(ran,
                 (QStringList {QStringLiteral("restore"), QStringLiteral("new"), QStringLiteral("terminate"),
                               QStringLiteral("new"), QStringLiteral("terminate"), QStringLiteral("new")}));
    }

    void enterOnAFocusedButtonPressesIt()
    {
        TSFEditItem item(m_main);
        AppTest::onModal(QStringLiteral("SFEditItem"), [&item](TAuxWindow*) {
            item.BtCancel->setFocus();
            QTest::keyClick(item.BtCancel, Qt::Key_Return);
        });
        QCOMPARE(item.ShowModal(), 2);
        // Back in an edit, Enter presses OK again.
        AppTest::onModal(QStringLiteral("SFEditItem"), [&item](TAuxWindow*) {
            item.BtCancel->setFocus();
            item.EdPNum->setFocus();
            QTest::keyClick(item.EdPNum, Qt::Key_Return);
        });
        QCOMPARE(item.ShowModal(), 1);

        TSFParams params(m_main);
        int writes = 0;
        params.setClickHandler(params.BtWrParams, [&writes] { ++writes; });
        AppTest::onModal(QStringLiteral("SFParams"), [&params](TAuxWindow*) {
            params.BtCancelParams->setFocus();
            QTest::keyClick(params.BtCancelParams, Qt::Key_Return);
        });
        QCOMPARE(params.ShowModal(), 2);
        QCOMPARE(writes, 0);
    }

    void jumperExplanation()
    {
        TSFTrinketDefine w(m_main);
        const QStringList lines = w.MmTrinkDefine->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 15);
        QCOMPARE(lines[0], QStringLiteral("Расположение отдельных разрядов кода на плате:"));
        QCOMPARE(lines[1], QStringLiteral("  ----------------------------"));
        QCOMPARE(lines[2], QStringLiteral("  |                           |"));
        QCOMPARE(lines[3], lines[2]);
        QCOMPARE(lines[4], lines[2]);
        QCOMPARE(lines[5], QStringLiteral("  |                           |     код:"));
        QCOMPARE(lines[6], QStringLiteral("  |                           |  9876543210"));
        QCOMPARE(lines[7], lines[2]);
        QCOMPARE(lines[8], QStringLiteral("  |1 0                      |"));
        QCOMPARE(lines[9], lines[2]);
        QCOMPARE(lines[10], QStringLiteral("  |   2 3 4 5 6 7 8 9 |"));
        QCOMPARE(lines[11], lines[1]);
        QCOMPARE(lines[12], QStringLiteral("'0' - разряд связан с GND, связь с UCC разорвана"));
        QCOMPARE(lines[13], QStringLiteral("'1' - разряд связан с UCC, связь с GND разорвана"));
        QCOMPARE(lines[14], QStringLiteral("'X' - свободный разряд, связь с UCC и GND разорвана"));
        QVERIFY(w.MmTrinkDefine->isReadOnly());
        QCOMPARE(w.MmTrinkDefine->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(w.MmTrinkDefine->font().pixelSize(), 11);
    }
};

QM407_APP_TEST_MAIN(TestAuxWindows)
#include "tst_auxwindows.moc"
