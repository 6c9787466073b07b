#include "app/formstorage.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/quitrequest.h"
#include "sim/simulator.h"
#include "tests/support/apptest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The settings store with the real main window: every test starts it in its own folder with
// its own store, lets it restore at its first showing and save when it closes or goes.

namespace {
using Values = QMap<QString, QString>;

const QStringList PlacementNames {QStringLiteral("FormVersion"), QStringLiteral("Flags"),
                                  QStringLiteral("ShowCmd"),     QStringLiteral("PixelsPerInch"),
                                  QStringLiteral("MinMaxPos"),   QStringLiteral("NormPos"),
                                  QStringLiteral("Visible")};

// The values a first run writes for the controls, in their order.
const QList<QPair<QString, QString>> Defaults {
    {QStringLiteral("OpDelay1_Value"), QStringLiteral("30")},
    {QStringLiteral("OpDelay2_Value"), QStringLiteral("0")},
    {QStringLiteral("OpDelay3_Value"), QStringLiteral("0")},
    {QStringLiteral("OpDelay4_Value"), QStringLiteral("0")},
    {QStringLiteral("OpDelay5_Value"), QStringLiteral("0")},
    {QStringLiteral("OpDelay6_Value"), QStringLiteral("0")},
    {QStringLiteral("OpDelay7_Value"), QStringLiteral("0")},
    {QStringLiteral("RGModel_ItemIndex"), QStringLiteral("0")},
    {QStringLiteral("RGNumTrink_ItemIndex"), QStringLiteral("0")},
    {QStringLiteral("CloseDelay_Value"), QStringLiteral("30")},
    {QStringLiteral("GridTrinketADDRESS_Width"), QStringLiteral("288")},
    {QStringLiteral("GridTrinketCODE_Width"), QStringLiteral("87")},
    {QStringLiteral("GridTrinketCODE_D_Width"), QStringLiteral("87")},
    {QStringLiteral("GridTrinketID_RECORD_Width"), QStringLiteral("32")},
    {QStringLiteral("GridTrinketID_TRINK_Width"), QStringLiteral("179")},
    {QStringLiteral("GridTrinketID_TRINK_D_Width"), QStringLiteral("136")},
    {QStringLiteral("GridTrinketPULT_NUM_Width"), QStringLiteral("71")},
    {QStringLiteral("SensMode1_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode2_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode3_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode4_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode5_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode6_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("SensMode7_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("CBPort_Text"), QStringLiteral("COM1")},
    {QStringLiteral("CBPort_ItemIndex"), QStringLiteral("-1")},
    {QStringLiteral("EnBypass_Checked"), QStringLiteral("False")},
    {QStringLiteral("CBDisExtCode_Checked"), QStringLiteral("False")},
    {QStringLiteral("CBAutoClose_Checked"), QStringLiteral("False")},
    {QStringLiteral("CBIndicOnlyAlarm_Checked"), QStringLiteral("False")},
    {QStringLiteral("CBNoMAT_Checked"), QStringLiteral("False")},
};

QString screenSuffix()
{
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

int pixelsPerInch()
{
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch());
}

// What a stored property's control shows, read the way an installer would see it.
QVariant shown(TFmTavro& window, const QString& name)
{
    const QString control = name.section(QLatin1Char('_'), 0, -2);
    const QString property = name.section(QLatin1Char('_'), -1);
    QObject* object = window.findChild<QObject*>(control);
    if (!object)
        return QStringLiteral("no control %1").arg(control);
    if (auto* spin = qobject_cast<QSpinBox*>(object))
        return spin->value();
    if (auto* box = qobject_cast<QComboBox*>(object))
        return property == QLatin1String("Text") ? QVariant(box->currentText()) : QVariant(box->currentIndex());
    if (auto* check = qobject_cast<QCheckBox*>(object))
        return check->isChecked();
    return object->property(property.toLatin1().constData()).toInt();
}
} // namespace

class TestFormStorage final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstRunKeepsDefaultsAndWritesEverything();
    void savedOnceWhenClosedOrAtTheEnd();
    void storedTextsAreReadByTheirRules_data();
    void storedTextsAreReadByTheirRules();
    void oneBadValueNeverStopsTheOthers();
    void olderLayoutIsNotRestored();
    void positionFollowsTheScreen_data();
    void positionFollowsTheScreen();
    void otherPixelsPerInchKeepsThePositionOnly();
    void minimizedStateIsCarriedOver();
    void placementOfAnotherTypeIsReported();
    void unwritableStoreIsReportedAndShutDownGoesOn();
    void handWrittenFileIsRead();
    void typedPortSurvivesARestart();
    void storedPortIsUsedFromTheStart();

private:
    QString storeFile() const { return m_dir->filePath(QStringLiteral("config/Pralvek/TavroQM407.ini")); }
    void store(const Values& values);
    Values stored() const;
    std::unique_ptr<TFmTavro> showWindow();
    void runQueued();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousFolder;
};

void TestFormStorage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char* sub : {"work", "runtime", "config"})
        QVERIFY(QDir(m_dir->path()).mkdir(QString::fromLatin1(sub)));
    QVERIFY(QFile::setPermissions(m_dir->filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir->filePath(QStringLiteral("runtime"))));
    TFormStorage::setStoreDirectory(m_dir->filePath(QStringLiteral("config")));
    m_previousFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("work"))));

    // A valid, empty register, so that start-up goes straight to the main window.
    RecordStore records;
    DataFile data(records);
    QCOMPARE(data.createAnew().error(), QString());
    data.release();

    QuitRequest::reset();
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true); // the port "COM1" is missing here, and says so
}

void TestFormStorage::cleanup()
{
    QDir::setCurrent(m_previousFolder);
    TFormStorage::setStoreDirectory(QString());
    m_dir.reset();
}

void TestFormStorage::store(const Values& values)
{
    QSettings settings(storeFile(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("TFmTavro"));
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.endGroup();
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

Values TestFormStorage::stored() const
{
    QSettings settings(storeFile(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("TFmTavro"));
    Values values;
    for (const QString& key : settings.childKeys()) {
        const QVariant value = settings.value(key);
        values.insert(key, value.typeId() == QMetaType::QString ? value.toString() : QStringLiteral("<not text>"));
    }
    return values;
}

// Runs the event loop until everything queued so far (a deferred minimize, say) has run.
void TestFormStorage::runQueued()
{
    bool reached = false;
    QTimer::singleShot(0, this, [&reached] { reached = true; });
    QTRY_VERIFY(reached);
}

std::unique_ptr<TFmTavro> TestFormStorage::showWindow()
{
    auto window = std::make_unique<TFmTavro>();
    window->show();
    QCoreApplication::processEvents();
    return window;
}

void TestFormStorage::firstRunKeepsDefaultsAndWritesEverything()
{
    QVERIFY(!QFile::exists(storeFile()));
    auto window = showWindow();
    const QPoint centred = window->pos();
    for (const auto& [name, text] : Defaults) {
        // The grid shares its width out among the visible columns, which may nudge theirs.
        if (!name.startsWith(QLatin1String("GridTrinket")))
            QCOMPARE(shown(*window, name).toString(), text == QLatin1String("False") ? QStringLiteral("false") : text);
    }
    QVERIFY(window->close());

    const Values values = stored();
    const QString suffix = screenSuffix();
    const QRect frame = window->frameGeometry();
    const QString normal = QStringLiteral("%1,%2,%3,%4")
                               .arg(centred.x())
                               .arg(centred.y())
                               .arg(centred.x() + frame.width())
                               .arg(centred.y() + frame.height());
    Values expected {
        {QStringLiteral("FormVersion"), QStringLiteral("0")},
        {QStringLiteral("Flags"), QStringLiteral("0")},
        {QStringLiteral("ShowCmd"), QStringLiteral("1")},
        {QStringLiteral("PixelsPerInch"), QString::number(pixelsPerInch())},
        {QStringLiteral("MinMaxPos") + suffix, QStringLiteral("-1,-1,-1,-1")},
        {QStringLiteral("MinMaxPos"), QStringLiteral("-1,-1,-1,-1")},
        {QStringLiteral("NormPos") + suffix, normal},
        {QStringLiteral("NormPos"), normal},
        {QStringLiteral("Visible"), QStringLiteral("0")},
    };
    for (const auto& [name, text] : Defaults)
        expected.insert(name, name.startsWith(QLatin1String("GridTrinket")) ? shown(*window, name).toString() : text);
    QCOMPARE(values, expected);
    QCOMPARE(values.value(QStringLiteral("GridTrinketID_TRINK_Width")), QStringLiteral("179"));
    QCOMPARE(values.value(QStringLiteral("GridTrinketID_TRINK_D_Width")), QStringLiteral("136"));

    // The four numbers are one text in the file, not a list; the parenthesised names survive.
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("[TFmTavro]"));
    QVERIFY2(bytes.contains("\nNormPos=\"" + normal.toLatin1() + "\"\n"), bytes.constData());
    QVERIFY(bytes.contains("\nNormPos%28" + suffix.mid(1, suffix.size() - 2).toLatin1() + "%29=\""));
    QVERIFY(!bytes.contains("@Variant") && !bytes.contains("@Rect"));
}

void TestFormStorage::savedOnceWhenClosedOrAtTheEnd()
{
    // Ended without closing (the menu's "Выход"): saved at destruction.
    {
        auto window = showWindow();
        window->SFParams->OpDelay3->setValue(42);
    }
    QCOMPARE(stored().value(QStringLiteral("Visible")), QStringLiteral("1"));
    QCOMPARE(stored().value(QStringLiteral("OpDelay3_Value")), QStringLiteral("42"));

    // Closed: saved then, and not again when the window goes.
    {
        auto window = showWindow();
        QCOMPARE(window->SFParams->OpDelay3->value(), 42);
        window->SFParams->OpDelay3->setValue(43);
        QVERIFY(window->close());
        window->SFParams->OpDelay3->setValue(44);
    }
    QCOMPARE(stored().value(QStringLiteral("Visible")), QStringLiteral("0"));
    QCOMPARE(stored().value(QStringLiteral("OpDelay3_Value")), QStringLiteral("43"));

    // Never shown (a copy that ended at once): nothing restored, nothing saved.
    QFile::remove(storeFile());
    {
        TFmTavro window;
    }
    QVERIFY(!QFile::exists(storeFile()));
}

void TestFormStorage::storedTextsAreReadByTheirRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("delay above the range") << "OpDelay1_Value"
                                           << "300" << QVariant(255);
    QTest::newRow("delay below the range") << "OpDelay1_Value"
                                           << "-4" << QVariant(0);
    QTest::newRow("delay rounded") << "OpDelay1_Value"
                                   << "12.6" << QVariant(13);
    QTest::newRow("delay with blanks") << "OpDelay1_Value"
                                       << " 7 " << QVariant(7);
    QTest::newRow("delay in exponent form") << "CloseDelay_Value"
                                            << "1e2" << QVariant(100);
    QTest::newRow("delay not a number") << "OpDelay1_Value"
                                        << "abc" << QVariant(30);
    QTest::newRow("delay with a decimal comma") << "OpDelay1_Value"
                                                << "12,6" << QVariant(30);
    QTest::newRow("delay infinite") << "OpDelay1_Value"
                                    << "inf" << QVariant(30);
    QTest::newRow("delay not a number at all") << "OpDelay2_Value"
                                               << "nan" << QVariant(0);
    QTest::newRow("zone mode") << "SensMode4_ItemIndex"
                               << "5" << QVariant(5);
    QTest::newRow("zone mode not a number") << "SensMode1_ItemIndex"
                                            << "x" << QVariant(0);
    QTest::newRow("zone mode out of the list") << "SensMode2_ItemIndex"
                                               << "9" << QVariant(-1);
    QTest::newRow("model") << "RGModel_ItemIndex"
                           << "1" << QVariant(1);
    QTest::newRow("trinkets") << "RGNumTrink_ItemIndex"
                              << " 1 " << QVariant(1);
    // A visible column's width is what the grid makes of it, as if it had been set directly.
    QTest::newRow("column width") << "GridTrinketADDRESS_Width"
                                  << "150" << QVariant(150);
    QTest::newRow("hidden column width") << "GridTrinketID_TRINK_D_Width"
                                         << "99" << QVariant(99);
    QTest::newRow("column width not a number") << "GridTrinketCODE_Width"
                                               << "wide" << QVariant(0);
    QTest::newRow("check box true") << "EnBypass_Checked"
                                    << "true" << QVariant(true);
    QTest::newRow("check box TRUE") << "CBNoMAT_Checked"
                                    << "TRUE" << QVariant(true);
    QTest::newRow("check box tRuE") << "CBAutoClose_Checked"
                                    << " tRuE " << QVariant(true);
    QTest::newRow("check box yes") << "EnBypass_Checked"
                                   << "yes" << QVariant(false);
    QTest::newRow("check box maybe") << "CBDisExtCode_Checked"
                                     << "maybe" << QVariant(false);
    QTest::newRow("check box 1") << "CBIndicOnlyAlarm_Checked"
                                 << "1" << QVariant(false);
    QTest::newRow("port with blanks") << "CBPort_Text"
                                      << " COM3 " << QVariant(QStringLiteral("COM3"));
    QTest::newRow("port typed") << "CBPort_Text"
                                << "/dev/ttyUSB0" << QVariant(QStringLiteral("/dev/ttyUSB0"));
    QTest::newRow("port position") << "CBPort_ItemIndex"
                                   << "2" << QVariant(2);
}

void TestFormStorage::storedTextsAreReadByTheirRules()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    if (name.startsWith(QLatin1String("GridTrinket"))) {
        auto reference = showWindow();
        reference->findChild<QObject*>(name.section(QLatin1Char('_'), 0, -2))->setProperty("Width", expected);
        expected = shown(*reference, name);
        reference.reset();
        QFile::remove(storeFile());
    }
    store({{name, text}});
    auto window = showWindow();
    QCOMPARE(shown(*window, name), expected);
}

void TestFormStorage::oneBadValueNeverStopsTheOthers()
{
    store({{QStringLiteral("OpDelay1_Value"), QStringLiteral("abc")},
           {QStringLiteral("OpDelay2_Value"), QStringLiteral("5")},
           {QStringLiteral("RGModel_ItemIndex"), QStringLiteral("1")},
           {QStringLiteral("CBPort_Text"), QStringLiteral("COM3")},
           {QStringLiteral("CBPort_ItemIndex"), QStringLiteral("2")},
           {QStringLiteral("CBNoMAT_Checked"), QStringLiteral("True")}});
    {
        // Values of another type than text: skipped one by one.
        QSettings settings(storeFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("TFmTavro/CloseDelay_Value"), QByteArray("\x01\x02"));
        settings.setValue(QStringLiteral("TFmTavro/SensMode3_ItemIndex"), QRect(1, 2, 3, 4));
    }
    auto window = showWindow();
    QCOMPARE(window->SFParams->OpDelay1->value(), 30);
    QCOMPARE(window->SFParams->OpDelay2->value(), 5);
    QCOMPARE(window->SFParams->CloseDelay->value(), 30);
    QCOMPARE(window->SFParams->SensMode3->currentIndex(), -1);
    QCOMPARE(window->SFOptions->RGModel->ItemIndex(), 1);
    QCOMPARE(window->SFPort->CBPort->currentText(), QStringLiteral("COM3"));
    QVERIFY(window->SFParams->CBNoMAT->isChecked());
    QVERIFY(MessageBoxSeam::texts().filter(QStringLiteral("Invalid")).isEmpty());

    // The next save writes text again.
    QVERIFY(window->close());
    QCOMPARE(stored().value(QStringLiteral("CloseDelay_Value")), QStringLiteral("30"));
    QCOMPARE(stored().value(QStringLiteral("SensMode3_ItemIndex")), QStringLiteral("-1"));
}

void TestFormStorage::olderLayoutIsNotRestored()
{
    store({{QStringLiteral("FormVersion"), QStringLiteral("-1")},
           {QStringLiteral("NormPos"), QStringLiteral("10,20,30,40")},
           {QStringLiteral("ShowCmd"), QStringLiteral("2")},
           {QStringLiteral("OpDelay1_Value"), QStringLiteral("99")},
           {QStringLiteral("Leftover"), QStringLiteral("kept")}});
    auto window = showWindow();
    const QPoint centred = window->pos();
    QVERIFY(centred != QPoint(10, 20));
    QCOMPARE(window->SFParams->OpDelay1->value(), 30);
    runQueued();
    QVERIFY(!window->isMinimized());
    QVERIFY(window->close());
    const Values values = stored();
    QCOMPARE(values.value(QStringLiteral("FormVersion")), QStringLiteral("0"));
    QCOMPARE(values.value(QStringLiteral("OpDelay1_Value")), QStringLiteral("30"));
    QCOMPARE(values.value(QStringLiteral("Leftover")), QStringLiteral("kept")); // nothing is ever deleted
}

void TestFormStorage::positionFollowsTheScreen_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<QPoint>("expected");
    const QString here = QStringLiteral("NormPos") + screenSuffix();
    QTest::newRow("this screen's size") << Values {{here, QStringLiteral("10,20,5000,5000")},
                                                   {QStringLiteral("NormPos"), QStringLiteral("200,100,0,0")}}
                                        << QPoint(10, 20);
    QTest::newRow("another screen's size")
        << Values {{QStringLiteral("NormPos(4000x3000)"), QStringLiteral("900,700,1700,1200")},
                   {QStringLiteral("NormPos"), QStringLiteral("30,40,766,452")}}
        << QPoint(30, 40);
    QTest::newRow("this size empty") << Values {{here, QString()},
                                                {QStringLiteral("NormPos"), QStringLiteral("50 60 0 0")}}
                                     << QPoint(50, 60);
    QTest::newRow("unreadable left") << Values {{QStringLiteral("NormPos"), QStringLiteral("x,60")}} << QPoint(-1, 60);
    QTest::newRow("only the min and max positions")
        << Values {{QStringLiteral("MinMaxPos"), QStringLiteral("-1,-1,-1,-1")}} << QPoint(-1, -1);
    QTest::newRow("off every screen") << Values {{QStringLiteral("NormPos"), QStringLiteral("30000,30000,30736,30432")}}
                                      << QPoint(-1, -1);
}

void TestFormStorage::positionFollowsTheScreen()
{
    QFETCH(Values, values);
    QFETCH(QPoint, expected);
    values.insert(QStringLiteral("PixelsPerInch"), QString::number(pixelsPerInch()));
    auto window = showWindow();
    const QPoint centred = window->pos();
    const QSize size = window->frameGeometry().size();
    window.reset();
    QFile::remove(storeFile());

    store(values);
    window = showWindow();
    // -1 stands for the designed (centred) coordinate.
    QCOMPARE(window->pos(),
             QPoint(expected.x() < 0 ? centred.x() : expected.x(), expected.y() < 0 ? centred.y() : expected.y()));
    QCOMPARE(window->frameGeometry().size(), size); // the border is fixed: never resized
}

void TestFormStorage::otherPixelsPerInchKeepsThePositionOnly()
{
    store({{QStringLiteral("PixelsPerInch"), QString::number(pixelsPerInch() + 24)},
           {QStringLiteral("NormPos"), QStringLiteral("10,20,746,432")},
           {QStringLiteral("ShowCmd"), QStringLiteral("2")},
           {QStringLiteral("RGNumTrink_ItemIndex"), QStringLiteral("1")}});
    auto window = showWindow();
    QVERIFY(window->pos() != QPoint(10, 20));
    QCOMPARE(window->SFOptions->RGNumTrink->ItemIndex(), 1);
    QTRY_VERIFY(window->isMinimized());
}

void TestFormStorage::minimizedStateIsCarriedOver()
{
    {
        auto window = showWindow();
        window->setWindowState(window->windowState() | Qt::WindowMinimized);
        QTRY_VERIFY(window->isMinimized());
    }
    QCOMPARE(stored().value(QStringLiteral("ShowCmd")), QStringLiteral("2"));
    {
        auto window = showWindow();
        QTRY_VERIFY(window->isMinimized());
        window->setWindowState(Qt::WindowNoState);
        QTRY_VERIFY(!window->isMinimized());
    }
    QCOMPARE(stored().value(QStringLiteral("ShowCmd")), QStringLiteral("1"));
    // Show commands that mean "normal" and unknown ones leave the window as it is.
    for (const char* command : {"1", "5", "9", "0", "11", "normal"}) {
        store({{QStringLiteral("ShowCmd"), QString::fromLatin1(command)}});
        auto window = showWindow();
        runQueued();
        QVERIFY2(!window->isMinimized(), command);
    }
}

void TestFormStorage::placementOfAnotherTypeIsReported()
{
    store({{QStringLiteral("OpDelay1_Value"), QStringLiteral("99")}});
    {
        QSettings settings(storeFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("TFmTavro/FormVersion"), QByteArray("0"));
    }
    auto window = showWindow();
    // Once (a box about the port may come before it), and ending in a quote, whose code is
    // below the full stop's: shown as it is.
    QCOMPARE(MessageBoxSeam::texts().count(QStringLiteral("Invalid data type for 'FormVersion'")), 1);
    QCOMPARE(MessageBoxSeam::last().text, QStringLiteral("Invalid data type for 'FormVersion'"));
    QCOMPARE(MessageBoxSeam::last().flags, MessageBoxFlags::Uncaught);
    QCOMPARE(window->SFParams->OpDelay1->value(), 30); // the rest of the restore is abandoned
    QVERIFY(window->isVisible());
    // The store heals at the next save.
    window.reset();
    QCOMPARE(stored().value(QStringLiteral("FormVersion")), QStringLiteral("0"));
}

void TestFormStorage::unwritableStoreIsReportedAndShutDownGoesOn()
{
    // A file where the store's folder should be: not even the superuser can create the key.
    QFile blocker(m_dir->filePath(QStringLiteral("config/Pralvek")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!QFile::exists(QStringLiteral("Trinket.bkd")));
    {
        auto window = showWindow();
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        QVERIFY(window->close());
        QCOMPARE(MessageBoxSeam::texts(), QStringList {QStringLiteral("Failed to create key TFmTavro.")});
        QCOMPARE(MessageBoxSeam::last().flags, MessageBoxFlags::Uncaught);
        QCOMPARE(MessageBoxSeam::last().caption, ApplicationTitle());
    }
    // Reported once, and the data file's shut-down steps still ran.
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QVERIFY(QFile::exists(QStringLiteral("Trinket.bkd")));
}

void TestFormStorage::handWrittenFileIsRead()
{
    // As someone might type it: unquoted lists, blanks, plain names next to escaped ones.
    QVERIFY(QDir().mkpath(QFileInfo(storeFile()).path()));
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[TFmTavro]\n"
               "FormVersion=0\n"
               "PixelsPerInch="
               + QByteArray::number(pixelsPerInch())
               + "\n"
                 "NormPos=12, 34, 0, 0\n"
                 "OpDelay5_Value = 17\n"
                 "CBPort_Text=\"  COM5  \"\n"
                 "EnBypass_Checked=true\n");
    file.close();
    auto window = showWindow();
    QCOMPARE(window->pos(), QPoint(12, 34));
    QCOMPARE(window->SFParams->OpDelay5->value(), 17);
    QCOMPARE(window->SFPort->CBPort->currentText(), QStringLiteral("COM5"));
    QVERIFY(window->SFParams->EnBypass->isChecked());
}

void TestFormStorage::typedPortSurvivesARestart()
{
    {
        auto window = showWindow();
        window->SFPort->CBPort->setCurrentIndex(2); // "COM3" chosen from the list...
        window->SFPort->CBPort->setEditText(QStringLiteral("/dev/ttyUSB1")); // ...then a name typed over it
    }
    QCOMPARE(stored().value(QStringLiteral("CBPort_ItemIndex")), QStringLiteral("-1"));
    {
        auto window = showWindow();
        QCOMPARE(window->SFPort->CBPort->currentText(), QStringLiteral("/dev/ttyUSB1"));
        window->SFPort->CBPort->setCurrentIndex(3);
    }
    QCOMPARE(stored().value(QStringLiteral("CBPort_Text")), QStringLiteral("COM4"));
    QCOMPARE(stored().value(QStringLiteral("CBPort_ItemIndex")), QStringLiteral("3"));
    auto window = showWindow();
    QCOMPARE(window->SFPort->CBPort->currentIndex(), 3);
    QCOMPARE(window->SFPort->CBPort->currentText(), QStringLiteral("COM4"));
}

void TestFormStorage::storedPortIsUsedFromTheStart()
{
    Qm407Simulator simulator;
    QVERIFY(simulator.start());
    store({{QStringLiteral("CBPort_Text"), simulator.slavePath()},
           {QStringLiteral("CBPort_ItemIndex"), QStringLiteral("-1")}});
    // The simulator keeps its own end open; the tool's open adds one.
    const int simulatorOwn = AppTest::openCount(simulator.slavePath());
    auto sentByTool = [&simulator] {
        int frames = 0;
        for (const auto& entry : simulator.log())
            frames += entry.fromTool;
        return frames;
    };

    // The port window shows the stored port and the first device operation reaches it.
    auto window = showWindow();
    QVERIFY(MessageBoxSeam::shown().isEmpty());
    QCOMPARE(window->SFPort->CBPort->currentText(), simulator.slavePath());
    QCOMPARE(AppTest::openCount(simulator.slavePath()), simulatorOwn + 1);
    window->DefineModel();
    QVERIFY(sentByTool() > 0);
    window.reset();
    QCOMPARE(AppTest::openCount(simulator.slavePath()), simulatorOwn);

    // A stored port that is gone is reported once, by its own name. The terminals open before
    // the start (the simulator's end, any the test was started with) are all that stay open.
    const QStringList terminalsBefore = AppTest::openTerminals();
    MessageBoxSeam::clear();
    store({{QStringLiteral("CBPort_Text"), QStringLiteral("/dev/ttyQM407gone")},
           {QStringLiteral("CBPort_ItemIndex"), QStringLiteral("-1")}});
    window = showWindow();
    QCOMPARE(MessageBoxSeam::shown().size(), 1);
    QVERIFY2(MessageBoxSeam::last().text.contains(QStringLiteral("/dev/ttyQM407gone")),
             qPrintable(MessageBoxSeam::last().text));
    QCOMPARE(AppTest::openTerminals(), terminalsBefore);
}

QTEST_MAIN(TestFormStorage)
#include "tst_formstorage.moc"
