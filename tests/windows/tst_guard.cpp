// The single-instance guard's Windows half: the named mutex is the marker, dropped with its
// holder; the named pipe beside it carries a second copy's command line.
#include "singleappinstance.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestGuard : public QObject
{
    Q_OBJECT

private slots:
    void markerIsHeldUntilItsHolderEnds()
    {
        const QString marker = QStringLiteral("{6C1B2A0E-0D55-4B8E-9E50-3F6D0F0C4A17}");
        auto first = std::make_unique<TSingleAppInstance>();
        first->SetMarker(marker);
        first->Loaded();
        QVERIFY(first->isFirstInstance());
        QVERIFY(first->markerLocation().startsWith(QLatin1String("Local\\")));

        TSingleAppInstance second;
        second.SetMarker(marker);
        QSignalSpy told(&second, &TSingleAppInstance::secondInstance);
        second.setHandOverTimeout(200);
        second.Loaded();
        QVERIFY(!second.isFirstInstance());
        QCOMPARE(told.size(), 1);

        first.reset();
        TSingleAppInstance third;
        third.SetMarker(marker);
        third.Loaded();
        QVERIFY(third.isFirstInstance());
    }
};

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
