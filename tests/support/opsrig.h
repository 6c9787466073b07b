#pragma once

#include "register/record.h"
#include "sim/simulator.h"
#include "tests/support/apptest.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QObject;
class TAuxWindow;
class TFmTavro;

// The main window as the program builds it, in a private working folder holding its data
// file and with private settings, talking to a simulated controller over a real pseudo-terminal.
class OpsRig final
{
public:
    explicit OpsRig(const std::vector<Record>& records = {});
    ~OpsRig();
    OpsRig(const OpsRig&) = delete;
    OpsRig& operator=(const OpsRig&) = delete;

    bool ready() const { return m_ready; }
    TFmTavro& window() { return *m_window; }
    QString dataPath() const;
    QByteArray dataBytes() const;

    // AppTest::onModal; what is still pending ends with the rig.
    void onModal(const QString& windowName, std::function<void(TAuxWindow*)> action);
    // Holds the buttons of the next trinkets, one per enrolment wait, from inside the wait
    // loop; `during` runs on each wait first, while the wait window is up.
    void pressTrinkets(const QList<quint32>& codes, std::function<void()> during = {});
    void pressTestButton(quint8 buttonByte, quint8 ack = 'U');

    AppTest::WorkDir folder;
    Qm407Simulator sim;

private:
    // Polls from inside the window's loops; ends with the rig, so nothing outlives a test.
    void poll(std::function<bool()> step);

    AppTest::PrivateSettings m_settings;
    std::unique_ptr<QObject> m_pollers;
    std::unique_ptr<TFmTavro> m_window;
    bool m_ready = false;
};

namespace OpsTest {

// AppTest::record with the address "Address <id>", and a second trinket when one is given.
Record record(qint32 id, const QByteArray& consoleNumber, qint32 trinket = 0, qint32 secondTrinket = 0);

} // namespace OpsTest
