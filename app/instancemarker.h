#pragma once

#include <QByteArray>
#include <QString>

class QLocalServer;

// The system-specific half of the single-instance guard: a marker named after the guard's marker
// text that only one process of the user can hold and that the system drops when the holder
// ends, however it ends; the name of the local channel beside it; the check that a channel's
// peer belongs to the same user; and the process's own command line.
class InstanceMarker final
{
public:
    explicit InstanceMarker(const QString& marker);
    ~InstanceMarker();
    Q_DISABLE_COPY_MOVE(InstanceMarker)

    // True when this process now holds the marker, false when another process holds it.
    // Throws std::runtime_error when the system refuses.
    bool tryAcquire();
    void release();
    bool held() const;

    // Full name of the channel on which the holder listens.
    QString channelName() const;
    // Where the marker lives; tests look at it.
    QString markerLocation() const;

    // Restricts a server to the user before it listens.
    static void prepareServer(QLocalServer& server);
    // Whether the process at the other end of a connected local socket runs as this user.
    static bool peerIsSameUser(qintptr socketDescriptor);
    // Program path and arguments as one text, as the system started the process.
    static QByteArray ownCommandLine();
    // The text of a failed system call with the given code.
    static QString systemErrorText(int code);

private:
    QString m_name; // the marker made safe as a file or object name
    QString m_directory; // private folder of the user (empty where the system has none)
    qintptr m_handle = -1;
};
