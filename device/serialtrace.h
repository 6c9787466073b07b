#pragma once

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QLoggingCategory>
#include <QString>

#include <functional>

// "qm407.serial": QT_LOGGING_RULES="qm407.serial.debug=true" prints the trace on stderr.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)

// A record of what went over the serial line: every frame sent and received with a millisecond
// timestamp, and every time-out and error. Lines go to one file per day in a folder (none when
// the folder is empty) and to the logging category. A file that cannot be written is reported
// once through onFailure, with the text to show; the trace goes on in the logging category.
class SerialTrace final
{
public:
    explicit SerialTrace(const QString& folder, std::function<void(const QString&)> onFailure = {});
    ~SerialTrace();
    SerialTrace(const SerialTrace&) = delete;
    SerialTrace& operator=(const SerialTrace&) = delete;

    void sent(const QByteArray& bytes);
    // A read that got fewer bytes than asked is a time-out, unless silence was the expected end
    // (a drain, a wait for a button press).
    void received(const QByteArray& bytes, int asked, bool silenceExpected);
    void readFailed();
    void writeIncomplete();
    void error(const QString& message);

    // "serial-2026-12-09.log".
    static QString fileName(const QDate& day);
    // Removes trace files of days more than KeepDays before today.
    static void removeOld(const QString& folder, const QDate& today);
    static constexpr int KeepDays = 30;
    // The user's state folder for the tool: $XDG_STATE_HOME or ~/.local/state on Linux, the
    // application's local data folder elsewhere.
    static QString defaultFolder();
    static QString hex(const QByteArray& bytes);

private:
    void put(const QString& text);
    void failed(const QString& path, const QString& reason);

    QString m_folder;
    QFile m_file;
    QDate m_day;
    std::function<void(const QString&)> m_onFailure;
    bool m_failureReported = false;
};
