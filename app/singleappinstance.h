#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class InstanceMarker;
class QLocalServer;
class QLocalSocket;

// SingleAppInstance: only one copy of the tool runs per user. The first copy holds a marker
// named by Marker(); a later copy hands its whole command line to the first one over a local
// channel and then asks to end.
class TSingleAppInstance final : public QObject
{
    Q_OBJECT

public:
    // A hand-over longer than this is refused.
    static constexpr int MaxCommandLine = 64 * 1024;

    explicit TSingleAppInstance(QObject* parent = nullptr);
    ~TSingleAppInstance() override;

    QString Marker() const { return m_marker; }
    // Throws std::runtime_error for a marker holding a backslash.
    void SetMarker(const QString& marker);
    static bool IsValidMarkerText(const QString& marker);
    static void AssertValidMarkerText(const QString& marker);
    static QString TranslateSlashes(const QString& text);

    bool Enabled() const { return m_enabled; }
    // Switching the guard on after Loaded decides at once; switching it off lets the marker go.
    void SetEnabled(bool enabled);
    bool PassCommandLine() const { return m_passCommandLine; }
    void SetPassCommandLine(bool pass) { m_passCommandLine = pass; }

    // Decides whether this copy is the first; a second copy hands over its command line and
    // emits secondInstance. Throws std::runtime_error on a failed system call.
    void Loaded();
    bool isFirstInstance() const { return m_first; }
    QByteArray receivedCommandLine() const { return m_received; }

    // How long a connected peer may take to deliver its hand-over, and how long a second copy
    // waits for the first one to answer.
    void setHandOverTimeout(int milliseconds) { m_timeout = milliseconds; }
    // Where the marker and the channel live; tests look at them.
    QString markerLocation() const;
    QString channelName() const;

signals:
    void secondInstance();
    void commandLineReceived(const QByteArray& commandLine);

private:
    void PerformSingletonCode();
    bool CreateInternalMapFile();
    void ReleaseInternalMapFile();
    void TakeSecondInstanceAction();
    bool PassThisInstanceCommandLine();
    void acceptHandOvers();
    void readHandOver(QLocalSocket* peer);

    QString m_marker;
    bool m_enabled = true;
    bool m_loaded = false;
    bool m_passCommandLine = true;
    bool m_first = true;
    int m_timeout = 5000;
    int m_peers = 0;
    QByteArray m_received;
    std::unique_ptr<InstanceMarker> m_marked;
    QLocalServer* m_server = nullptr;
};
