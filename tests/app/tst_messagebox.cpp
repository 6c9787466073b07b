// The one message box function: the three kinds, the uncaught-error display and its
// full-stop rule, the guard around handlers, and a real box answered by a click.
#include "app/messagebox.h"
#include "device/deviceerror.h"
#include "register/registererror.h"
#include "tests/support/apptest.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(false);
    }

    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << QStringLiteral("Нет ответа от QM407") << QStringLiteral("Нет ответа от QM407.");
        QTest::newRow("cyrillic letter") << QStringLiteral("Ошибка чтения версии")
                                         << QStringLiteral("Ошибка чтения версии.");
        QTest::newRow("digit") << QStringLiteral("code 5") << QStringLiteral("code 5.");
        QTest::newRow("full stop") << QStringLiteral("Done.") << QStringLiteral("Done.");
        QTest::newRow("exclamation") << QStringLiteral("Stop!") << QStringLiteral("Stop!");
        QTest::newRow("closing parenthesis") << QStringLiteral("(x)") << QStringLiteral("(x)");
        QTest::newRow("slash") << QStringLiteral("a/") << QStringLiteral("a/.");
        QTest::newRow("blank") << QStringLiteral("end ") << QStringLiteral("end ");
        QTest::newRow("empty") << QString() << QString();
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(WithFullStop(message), shown);
        MessageBoxSeam::pushAnswer(ButtonOk);
        ShowUncaughtError(message);
        QCOMPARE(MessageBoxSeam::last().text, shown);
        QCOMPARE(MessageBoxSeam::last().flags, 0x10);
        QCOMPARE(MessageBoxSeam::last().caption, ApplicationTitle());
    }

    void applicationTitle_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << QStringLiteral("/opt/tool/qm407tool") << QStringLiteral("qm407tool");
        QTest::newRow("upper case") << QStringLiteral("/opt/QM407Tool") << QStringLiteral("Qm407tool");
        QTest::newRow("first stop") << QStringLiteral("/x/Tavro.Setup.exe") << QStringLiteral("Tavro");
        QTest::newRow("cyrillic") << QStringLiteral("/x/УСТАНОВЩИК.exe") << QStringLiteral("Установщик");
        QTest::newRow("dot in folder") << QStringLiteral("/x.y/Tool") << QStringLiteral("Tool");
    }
    void applicationTitle()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitleFor(path), title);
        QCOMPARE(ApplicationTitle(), QStringLiteral("tst_messagebox"));
    }

    void kindsAndAnswers()
    {
        MessageBoxSeam::pushAnswer(ButtonOk);
        ShowError(QStringLiteral("Ошибка чтения из COM порта"));
        MessageBoxSeam::pushAnswer(ButtonYes);
        QVERIFY(AskConfirmation(QStringLiteral("Продолжить?")));
        MessageBoxSeam::pushAnswer(ButtonNo);
        QVERIFY(!AskConfirmation(QStringLiteral("Продолжить?")));
        MessageBoxSeam::pushAnswer(ButtonOk);
        ShowResult(QStringLiteral("Версия 1.1"), QStringLiteral("Версия"));
        const QList<MessageBoxSeam::Shown> shown = MessageBoxSeam::shown();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(shown[0].flags, 0x2010);
        QCOMPARE(shown[0].text, QStringLiteral("Ошибка чтения из COM порта"));
        QCOMPARE(shown[1].caption, QStringLiteral("Предупреждение"));
        QCOMPARE(shown[1].flags, 0x2034);
        QCOMPARE(shown[3].caption, QStringLiteral("Версия"));
        QCOMPARE(shown[3].flags, 0x2040);

        // Unattended: a question is never answered Yes unasked.
        MessageBoxSeam::setUnattended(true);
        QVERIFY(!AskConfirmation(QStringLiteral("Стереть?")));
        QCOMPARE(ShowMessageBox(QStringLiteral("Delete record?"), QStringLiteral("Confirm"), 0x21), int(ButtonOk));
        QCOMPARE(MessageBoxSeam::unexpectedCount(), 2);
    }

    // Whatever escapes a handler is shown and nothing propagates.
    void guardShowsEveryEscapingError()
    {
        MessageBoxSeam::setUnattended(true);
        int after = 0;
        RunGuarded([] { throw DeviceError(QStringLiteral("Ошибка чтения версии")); });
        RunGuarded([] { throw RegisterError(QStringLiteral("Stream write error")); });
        RunGuarded([] { throw std::runtime_error("Failed to create key TFmTavro"); });
        RunGuarded([] { throw 42; });
        RunGuarded([&] { ++after; });
        QCOMPARE(after, 1);
        QCOMPARE(MessageBoxSeam::texts(),
                 (QStringList {QStringLiteral("Ошибка чтения версии."), QStringLiteral("Stream write error."),
                               QStringLiteral("Failed to create key TFmTavro."), QStringLiteral("Unknown error.")}));
        for (const MessageBoxSeam::Shown& s : MessageBoxSeam::shown())
            QCOMPARE(s.flags, 0x10);
    }

    // An exception thrown by any event handler, outside the guarded slots, is caught by the
    // application object, shown, and the loop goes on.
    void applicationCatchesEventHandlerErrors()
    {
        class Throwing : public QObject
        {
        public:
            bool event(QEvent* e) override
            {
                if (e->type() == QEvent::User)
                    throw DeviceError(QStringLiteral("Ошибка записи данных в EEPROM"));
                return QObject::event(e);
            }
        } object;
        MessageBoxSeam::setUnattended(true);
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&object, &event);
        QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(MessageBoxSeam::texts(),
                 (QStringList {QStringLiteral("Ошибка записи данных в EEPROM."),
                               QStringLiteral("Ошибка записи данных в EEPROM.")}));
    }

    // Without a scripted answer a real, task-modal box comes up and reports the clicked button.
    void realBoxReportsTheClickedButton_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("click");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("icon");
        QTest::newRow("question yes") << 0x2034 << int(QMessageBox::Yes) << int(ButtonYes) << int(QMessageBox::Warning);
        QTest::newRow("question no") << 0x2034 << int(QMessageBox::No) << int(ButtonNo) << int(QMessageBox::Warning);
        QTest::newRow("error") << 0x2010 << int(QMessageBox::Ok) << int(ButtonOk) << int(QMessageBox::Critical);
        QTest::newRow("result") << 0x2040 << int(QMessageBox::Ok) << int(ButtonOk) << int(QMessageBox::Information);
        QTest::newRow("grid cancel") << 0x21 << int(QMessageBox::Cancel) << int(ButtonCancel)
                                     << int(QMessageBox::Question);
    }
    void realBoxReportsTheClickedButton()
    {
        QFETCH(int, flags);
        QFETCH(int, click);
        QFETCH(int, answer);
        QFETCH(int, icon);
        bool seen = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || seen)
                return;
            seen = true;
            QCOMPARE(box->windowTitle(), QStringLiteral("Заголовок"));
            QCOMPARE(box->text(), QStringLiteral("Текст"));
            QCOMPARE(int(box->icon()), icon);
            QCOMPARE(box->windowModality(), Qt::ApplicationModal);
            QTest::mouseClick(box->button(QMessageBox::StandardButton(click)), Qt::LeftButton);
        });
        poll.start();
        QCOMPARE(ShowMessageBox(QStringLiteral("Текст"), QStringLiteral("Заголовок"), flags), answer);
        QVERIFY(seen);
        QCOMPARE(MessageBoxSeam::last().answer, answer);
    }
};

QM407_APP_TEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
