// The main window's grid columns and the message boxes' captions as the installer knows them,
// written out here rather than taken from the code's own constants.
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "device/ops/opstexts.h"
#include "tests/support/apptest.h"

class TestWindowWords : public QObject
{
    Q_OBJECT
private slots:
    void gridColumns_data();
    void gridColumns();
    void boxCaptions();
};

void TestWindowWords::gridColumns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("shown");
    QTest::newRow("GridTrinketID_RECORD") << 0 << 32 << true;
    QTest::newRow("GridTrinketID_TRINK") << 1 << 179 << false;
    QTest::newRow("GridTrinketID_TRINK_D") << 2 << 136 << false;
    QTest::newRow("GridTrinketCODE") << 3 << 87 << true;
    QTest::newRow("GridTrinketCODE_D") << 4 << 87 << true;
    QTest::newRow("GridTrinketPULT_NUM") << 5 << 71 << true;
    QTest::newRow("GridTrinketADDRESS") << 6 << 288 << true;
}

// With nothing stored yet, a hidden column keeps its design width and the shown ones share the
// grid's width in the proportion of theirs (32 + 87 + 87 + 71 + 288 = 565).
void TestWindowWords::gridColumns()
{
    QFETCH(int, column);
    QFETCH(int, width);
    QFETCH(bool, shown);
    AppTest::WorkDir dir;
    QVERIFY(AppTest::writeFile(dir.path(QStringLiteral("Trinket.dat")), AppTest::registerBytes({})));
    const auto window = AppTest::makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* grid = window->findChild<TGridTrinket*>(QStringLiteral("GridTrinket"));
    QVERIFY(grid);
    auto* named = window->findChild<TGridColumn*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(named);
    QCOMPARE(named->column(), column);
    QCOMPARE(!grid->isColumnHidden(column), shown);
    const int stored = named->property("Width").toInt();
    if (!shown) {
        QCOMPARE(stored, width);
        return;
    }
    const double scaled = width * grid->viewport()->width() / 565.0;
    QVERIFY2(qAbs(stored - scaled) <= 2.0, qPrintable(QStringLiteral("%1 against %2").arg(stored).arg(scaled)));
}

void TestWindowWords::boxCaptions()
{
    MessageBoxSeam::clear();
    MessageBoxSeam::setUnattended(true);
    ShowError(QStringLiteral("e"));
    AskConfirmation(QStringLiteral("q"));
    ShowResult(QStringLiteral("v"), OpsTexts::versionCaption());
    ShowResult(QStringLiteral("t"), OpsTexts::trinketCaption());
    QStringList captions;
    for (const MessageBoxSeam::Shown& box : MessageBoxSeam::shown())
        captions << box.caption;
    QCOMPARE(captions,
             (QStringList {QStringLiteral("Ошибка"), QStringLiteral("Предупреждение"), QStringLiteral("Версия"),
                           QStringLiteral("Брелок")}));
    MessageBoxSeam::clear();
}

QM407_APP_TEST_MAIN(TestWindowWords)
#include "tst_windowwords.moc"
