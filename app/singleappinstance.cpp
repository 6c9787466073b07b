#include "app/singleappinstance.h"

#include "app/instancemarker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <stdexcept>

// Hand-over frame: the length of the text plus its terminating zero as a 32-bit big-endian
// number, the text, the zero. The first copy answers with the single byte 1.

namespace {
bool g_processHoldsMarker = false;
constexpr int MaxPeers = 8;
constexpr char Answer = 1;
} // namespace

TSingleAppInstance::TSingleAppInstance(QObject* parent)
    : QObject(parent)
{
}

TSingleAppInstance::~TSingleAppInstance()
{
    ReleaseInternalMapFile();
}

void TSingleAppInstance::SetMarker(const QString& marker)
{
    if (marker == m_marker)
        return;
    AssertValidMarkerText(marker);
    m_marker = marker;
}

bool TSingleAppInstance::IsValidMarkerText(const QString& marker)
{
    return !marker.contains(QLatin1Char('\\'));
}

void TSingleAppInstance::AssertValidMarkerText(const QString& marker)
{
    if (!IsValidMarkerText(marker))
        throw std::runtime_error("A marker may not contain the '\\' character");
}

QString TSingleAppInstance::TranslateSlashes(const QString& text)
{
    QString translated = text;
    return translated.replace(QLatin1Char('\\'), QLatin1Char('_'));
}

void TSingleAppInstance::SetEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    if (enabled && g_processHoldsMarker)
        return;
    m_enabled = enabled;
    if (m_loaded)
        PerformSingletonCode();
}

void TSingleAppInstance::Loaded()
{
    m_loaded = true;
    if (g_processHoldsMarker) {
        // Another guard of this process already decided.
        m_enabled = false;
        return;
    }
    PerformSingletonCode();
}

QString TSingleAppInstance::markerLocation() const
{
    return m_marked ? m_marked->markerLocation() : InstanceMarker(m_marker).markerLocation();
}

QString TSingleAppInstance::channelName() const
{
    return m_marked ? m_marked->channelName() : QString();
}

void TSingleAppInstance::PerformSingletonCode()
{
    if (!m_enabled) {
        ReleaseInternalMapFile();
        return;
    }
    if (m_marker.isEmpty())
        m_marker = TranslateSlashes(QCoreApplication::applicationFilePath());

    // A copy started together with the first may find the marker taken before the first one
    // listens, or the first one gone before it connects: it keeps trying for a while, and
    // becomes the first copy itself when the marker comes free.
    const QDeadlineTimer deadline(m_timeout);
    for (;;) {
        if (CreateInternalMapFile()) {
            m_first = true;
            g_processHoldsMarker = true;
            return;
        }
        if (!m_passCommandLine || PassThisInstanceCommandLine() || deadline.hasExpired())
            break;
        QThread::msleep(50);
    }
    TakeSecondInstanceAction();
}

bool TSingleAppInstance::CreateInternalMapFile()
{
    if (!m_marked)
        m_marked = std::make_unique<InstanceMarker>(m_marker);
    if (!m_marked->tryAcquire())
        return false;

    m_server = new QLocalServer(this);
    InstanceMarker::prepareServer(*m_server);
    connect(m_server, &QLocalServer::newConnection, this, &TSingleAppInstance::acceptHandOvers);
    // We hold the marker, so whatever sits at the channel's name was left by a copy that died.
    QLocalServer::removeServer(m_marked->channelName());
    if (!m_server->listen(m_marked->channelName())) {
        // The marker alone still keeps other copies out; they only can't hand anything over.
        qWarning("Single-instance channel %s: %s", qPrintable(m_marked->channelName()),
                 qPrintable(m_server->errorString()));
    }
    return true;
}

void TSingleAppInstance::ReleaseInternalMapFile()
{
    if (m_server) {
        m_server->close(); // removes the channel's name while the marker is still held
        delete m_server;
        m_server = nullptr;
    }
    if (m_marked && m_marked->held()) {
        m_marked->release();
        g_processHoldsMarker = false;
    }
}

void TSingleAppInstance::TakeSecondInstanceAction()
{
    m_first = false;
    emit secondInstance();
}

bool TSingleAppInstance::PassThisInstanceCommandLine()
{
    QLocalSocket socket;
    socket.connectToServer(m_marked->channelName());
    if (!socket.waitForConnected(1000))
        return false;
    if (!InstanceMarker::peerIsSameUser(socket.socketDescriptor()))
        return false;
    const QByteArray line = InstanceMarker::ownCommandLine();
    if (line.size() > MaxCommandLine)
        return true; // the first copy would refuse it; ending is all that is left

    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(line.size() + 1), frame.data());
    frame += line;
    frame += '\0';
    socket.write(frame);
    if (socket.waitForBytesWritten(m_timeout))
        socket.waitForReadyRead(m_timeout); // the answer isn't looked at
    return true;
}

void TSingleAppInstance::acceptHandOvers()
{
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
        if (m_peers >= MaxPeers || !InstanceMarker::peerIsSameUser(peer->socketDescriptor())) {
            peer->abort();
            peer->deleteLater();
            continue;
        }
        ++m_peers;
        peer->setReadBufferSize(4 + MaxCommandLine + 1);
        // A peer that connects and says nothing is dropped, without ever waiting on it.
        auto* limit = new QTimer(peer);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, peer, [peer] {
            peer->abort();
            peer->deleteLater();
        });
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { readHandOver(peer); });
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QObject::destroyed, this, [this] { --m_peers; });
        limit->start(m_timeout);
        readHandOver(peer);
    }
}

void TSingleAppInstance::readHandOver(QLocalSocket* peer)
{
    // A peer that gave up waiting may be gone already; what it sent still counts.
    if (peer->bytesAvailable() < 4)
        return;
    char header[4];
    peer->peek(header, 4);
    const quint32 length = qFromBigEndian<quint32>(header);
    if (length == 0 || length > quint32(MaxCommandLine) + 1) {
        disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
        peer->abort();
        peer->deleteLater();
        return;
    }
    if (peer->bytesAvailable() < 4 + qint64(length))
        return;
    // One hand-over per connection; whatever follows it is ignored.
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
    peer->skip(4);
    QByteArray text = peer->read(length);
    if (text.endsWith('\0'))
        text.chop(1);
    m_received = text;
    peer->write(&Answer, 1);
    peer->flush();
    peer->disconnectFromServer();
    peer->deleteLater();
    emit commandLineReceived(m_received);
}
