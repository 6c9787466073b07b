#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// SingleAppInstance: only one copy of the tool runs per user. The first copy holds a marker
// named by Marker(); a later copy hands its whole command line to the first one over a local
// channel and then asks to end.
class TSingleAppInstance final : public QObject
{
    Q_OBJECT

public:
    explicit TSingleAppInstance(QObject* parent = nullptr);
    ~TSingleAppInstance() override;

    QString Marker() const { return m_marker; }
    void SetMarker(const QString& marker);

    // Decides whether this copy is the first; a second copy hands over its command line and
    // emits secondInstance. Throws std::runtime_error on a failed system call.
    void Loaded();
    bool isFirstInstance() const { return m_first; }
    QByteArray receivedCommandLine() const { return m_received; }

signals:
    void secondInstance();
    void commandLineReceived(const QByteArray& commandLine);

private:
    QString m_marker;
    bool m_first = true;
    QByteArray m_received;
};
