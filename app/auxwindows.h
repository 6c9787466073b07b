#pragma once

#include "app/auxwindow.h"
#include "device/memorymap.h"
#include "device/ops/zoneparams.h"

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// The nine auxiliary windows. Each owns its controls under the names the handlers use; none
// holds device or file logic (the main window binds the click handlers).

// Record window: address and console number of an installation.
class TSFEditItem final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFEditItem(QWidget* mainWindow);
    QPushButton* BtOk;
    QPushButton* BtCancel;
    QLineEdit* EdAddr;
    QLineEdit* EdPNum;
    QLabel* LbAddr;
    QLabel* LbPultNum;

    struct Entry
    {
        QString address;
        QString consoleNumber;
    };
    // Fills both fields and puts the focus on the address.
    void setRecord(const Entry& entry);
    Entry record() const;
    void setConsoleNumber(const QString& number);
};

class TSFJournal final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFJournal(QWidget* mainWindow);
    QPlainTextEdit* MmJournal;
};

class TSFROM final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFROM(QWidget* mainWindow);
    QPlainTextEdit* MmROM;
};

class TSFOptions final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFOptions(QWidget* mainWindow);
    QPushButton* BtOKOpt;
    TRadioGroup* RGModel;
    TRadioGroup* RGNumTrink;
    QPushButton* BtDefModel;

    Model model() const;
    void setModel(Model model);
    // "Мастер + 2" chosen.
    bool twoTrinkets() const;

signals:
    void twoTrinketsChanged(bool on);
};

class TSFPort final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFPort(QWidget* mainWindow);
    QPushButton* BtOkPort;
    QComboBox* CBPort;

    // The port name as typed or chosen.
    QString portName() const;

protected:
    // Each opening lists the ports present now.
    void showEvent(QShowEvent* event) override;
};

class TSFParams final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFParams(QWidget* mainWindow);

    QComboBox* SensMode1;
    QComboBox* SensMode2;
    QComboBox* SensMode3;
    QComboBox* SensMode4;
    QComboBox* SensMode5;
    QComboBox* SensMode6;
    QComboBox* SensMode7;
    QSpinBox* OpDelay1;
    QSpinBox* OpDelay2;
    QSpinBox* OpDelay3;
    QSpinBox* OpDelay4;
    QSpinBox* OpDelay5;
    QSpinBox* OpDelay6;
    QSpinBox* OpDelay7;
    QSpinBox* CloseDelay;
    QCheckBox* EnBypass;
    QCheckBox* CBDisExtCode;
    QCheckBox* CBAutoClose;
    QCheckBox* CBIndicOnlyAlarm;
    QCheckBox* CBNoMAT;
    QPushButton* BtWrParams;
    QPushButton* BtCancelParams;
    std::array<QLabel*, 7> LbSens; // "Зона 1:" ... "Зона 7:" (objects LbSens1 ... LbSens7)
    QLabel* LbCloseDel;

    // Zone n (1..7) as a row of the window.
    QComboBox* SensMode(int zone) const { return m_modes[size_t(zone - 1)]; }
    QSpinBox* OpDelay(int zone) const { return m_delays[size_t(zone - 1)]; }

    // Before each opening: a box naming no mode shows "Выключена"; zones 4..7 and the four
    // options are enabled only for a QM407M.
    void prepareFor(Model model);
    // What "Записать" sends; a box naming no mode gives -1, a disabled "Разрешение НСД:" unchecked.
    DeviceOps::ZoneParams params() const;

private:
    std::array<QComboBox*, 7> m_modes;
    std::array<QSpinBox*, 7> m_delays;
};

// The trinket wait window: no title, stays on top, shown without modality.
class TSFSetupTrink final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFSetupTrink(QWidget* mainWindow);
    QPushButton* BtTrinkCancel;
    QLabel* LbSetupTrink;
};

// The data file recovery window.
class TSFMakeFile final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFMakeFile(QWidget* mainWindow);
    QPushButton* BtRestore;
    QPushButton* BtNew;
    QPushButton* BtTerminate;
};

// The jumper explanation.
class TSFTrinketDefine final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFTrinketDefine(QWidget* mainWindow);
    static QStringList jumperLines(); // the 15 lines
    QPlainTextEdit* MmTrinkDefine;
};
