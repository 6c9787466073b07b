// The single-instance guard's Windows half: the named mutex is the marker, held by one holder
// until it lets go; the named pipe beside it tells the user's own copies from others.
#include "app/instancemarker.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

class TestGuard : public QObject
{
    Q_OBJECT

private slots:
    void markerIsHeldByOneHolder()
    {
        const QString marker = QStringLiteral("{6C1B2A0E-0D55-4B8E-9E50-3F6D0F0C4A17}");
        InstanceMarker first(marker);
        QVERIFY(first.tryAcquire());
        QVERIFY(first.markerLocation().startsWith(QLatin1String("Local\\")));

        InstanceMarker second(marker);
        QVERIFY(!second.tryAcquire());
        QVERIFY(!second.held());

        first.release();
        QVERIFY(second.tryAcquire());
        QVERIFY(second.held());
    }

    void channelPeerIsTheSameUser()
    {
        InstanceMarker marker(QStringLiteral("{0B7E1C52-1B7A-4F0D-8A43-6E2B9D3C5F11}"));
        QLocalServer server;
        InstanceMarker::prepareServer(server);
        QVERIFY2(server.listen(marker.channelName()), qPrintable(server.errorString()));
        QLocalSocket client;
        client.connectToServer(marker.channelName());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket* peer = server.nextPendingConnection();
        QVERIFY(peer);
        QVERIFY(InstanceMarker::peerIsSameUser(peer->socketDescriptor()));
    }
};

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
