#include "app/auxwindows.h"

#include "app/portlist.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace {

template <class W> W* place(W* widget, const QString& name, int x, int y, int w, int h)
{
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    return widget;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, int x, int y, int w, int h)
{
    auto* b = place(new QPushButton(text, parent), name, x, y, w, h);
    // Enter presses the focused button; the default button only while no button has the focus.
    b->setAutoDefault(true);
    return b;
}

QLabel* label(QWidget* parent, const QString& name, const QString& text, int x, int y, int w, int h)
{
    return place(new QLabel(text, parent), name, x, y, w, h);
}

QIcon okIcon()
{
    return QApplication::style()->standardIcon(QStyle::SP_DialogOkButton);
}

QIcon cancelIcon()
{
    return QApplication::style()->standardIcon(QStyle::SP_DialogCancelButton);
}

// OK-kind: default button carrying OK; cancel-kind: cancel button carrying Cancel.
void makeOkKind(TAuxWindow* window, QPushButton* b)
{
    b->setIcon(okIcon());
    window->setDefaultButton(b);
    window->bindButton(b, TAuxWindow::mrOk);
}

void makeCancelKind(TAuxWindow* window, QPushButton* b)
{
    b->setIcon(cancelIcon());
    window->setCancelButton(b);
    window->bindButton(b, TAuxWindow::mrCancel);
}

void chainTabOrder(const QList<QWidget*>& widgets)
{
    for (int i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}

} // namespace

TSFEditItem::TSFEditItem(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFEditItem"), QStringLiteral("Место установки QM407"), QSize(417, 110),
                 Frame::Fixed)
{
    BtOk = button(this, QStringLiteral("BtOk"), QStringLiteral("OK"), 320, 70, 81, 25);
    BtCancel = button(this, QStringLiteral("BtCancel"), QStringLiteral("Отмена"), 224, 70, 81, 25);
    EdAddr = place(new QLineEdit(this), QStringLiteral("EdAddr"), 16, 24, 385, 21);
    EdPNum = place(new QLineEdit(this), QStringLiteral("EdPNum"), 16, 72, 137, 21);
    LbAddr = label(this, QStringLiteral("LbAddr"), QStringLiteral("Адрес:"), 16, 8, 65, 13);
    LbPultNum = label(this, QStringLiteral("LbPultNum"), QStringLiteral("Пультовой номер:"), 16, 56, 124, 16);
    LbAddr->setBuddy(EdAddr);
    LbPultNum->setBuddy(EdPNum);
    EdAddr->setMaxLength(80);
    EdPNum->setMaxLength(32);
    makeOkKind(this, BtOk);
    makeCancelKind(this, BtCancel);
    chainTabOrder({BtOk, BtCancel, EdAddr, EdPNum});
    EdAddr->setFocus();
}

void TSFEditItem::setRecord(const Entry& entry)
{
    EdAddr->setText(entry.address);
    EdPNum->setText(entry.consoleNumber);
    EdAddr->setFocus();
}

TSFEditItem::Entry TSFEditItem::record() const
{
    return {EdAddr->text(), EdPNum->text()};
}

void TSFEditItem::setConsoleNumber(const QString& number)
{
    EdPNum->setText(number);
}

TSFJournal::TSFJournal(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFJournal"), QStringLiteral("Журнал событий"), QSize(385, 238),
                 Frame::Resizable)
{
    MmJournal = fillingMemo(QStringLiteral("MmJournal"), QStringLiteral("MmJournal"));
    MmJournal->setReadOnly(true);
    MmJournal->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    MmJournal->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MmJournal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MmJournal->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

TSFROM::TSFROM(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFROM"), QStringLiteral("Содержимое EEPROM"), QSize(313, 230),
                 Frame::Resizable)
{
    MmROM = fillingMemo(QStringLiteral("MmROM"), QStringLiteral("MmROM"));
    MmROM->setFont(courierFont());
    MmROM->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MmROM->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MmROM->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

TSFOptions::TSFOptions(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFOptions"), QStringLiteral("Опции"), QSize(289, 126), Frame::Fixed)
{
    BtOKOpt = button(this, QStringLiteral("BtOKOpt"), QStringLiteral("Закрыть"), 168, 94, 81, 25);
    RGModel
        = place(new TRadioGroup(QStringLiteral("Модель"), {QStringLiteral("QM407"), QStringLiteral("QM407M")}, this),
                QStringLiteral("RGModel"), 16, 16, 105, 65);
    RGNumTrink = place(new TRadioGroup(QStringLiteral("Количество брелков"),
                                       {QStringLiteral("Мастер + 1"), QStringLiteral("Мастер + 2")}, this),
                       QStringLiteral("RGNumTrink"), 136, 16, 137, 65);
    BtDefModel = button(this, QStringLiteral("BtDefModel"), QStringLiteral("Определить"), 32, 94, 81, 25);
    RGModel->setItemIndex(0);
    RGNumTrink->setItemIndex(0);
    makeOkKind(this, BtOKOpt);
    bindButton(BtDefModel, mrNone);
    chainTabOrder(
        {BtOKOpt, RGModel->button(0), RGModel->button(1), RGNumTrink->button(0), RGNumTrink->button(1), BtDefModel});
    connect(RGNumTrink, &TRadioGroup::itemIndexChanged, this, [this] { emit twoTrinketsChanged(twoTrinkets()); });
}

Model TSFOptions::model() const
{
    return RGModel->ItemIndex() == int(Model::QM407M) ? Model::QM407M : Model::QM407;
}

void TSFOptions::setModel(Model model)
{
    RGModel->setItemIndex(int(model));
}

bool TSFOptions::twoTrinkets() const
{
    return RGNumTrink->ItemIndex() == 1;
}

TSFPort::TSFPort(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFPort"), QStringLiteral("Порт связи"), QSize(130, 108), Frame::Fixed)
{
    BtOkPort = button(this, QStringLiteral("BtOkPort"), QStringLiteral("Закрыть"), 24, 64, 81, 25);
    CBPort = place(new QComboBox(this), QStringLiteral("CBPort"), 16, 16, 97, 24);
    CBPort->setEditable(true);
    CBPort->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= 8; ++n)
        CBPort->addItem(QStringLiteral("COM%1").arg(n));
    // The text is the design's "COM1" with no list position chosen.
    CBPort->setCurrentIndex(-1);
    CBPort->setEditText(QStringLiteral("COM1"));
    CBPort->setAccessibleName(QStringLiteral("Порт"));
    CBPort->setToolTip(QStringLiteral("Имя порта из списка или набранное: COM1, ttyUSB0, /dev/ttyACM0, "
                                      "/dev/serial/by-id/..."));
    makeOkKind(this, BtOkPort);
    chainTabOrder({BtOkPort, CBPort});
}

QString TSFPort::portName() const
{
    return CBPort->currentText();
}

void TSFPort::showEvent(QShowEvent* event)
{
    PortList::refresh(CBPort);
    TAuxWindow::showEvent(event);
}

TSFParams::TSFParams(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFParams"), QStringLiteral("Параметры устройства"), QSize(356, 337),
                 Frame::Fixed)
{
    for (int n = 1; n <= 7; ++n) {
        const int y = 16 + 24 * (n - 1);
        auto* mode = place(new QComboBox(this), QStringLiteral("SensMode%1").arg(n), 64, y, 153, 24);
        mode->setEditable(true);
        mode->setInsertPolicy(QComboBox::NoInsert);
        mode->setMaxVisibleItems(5);
        mode->addItems(DeviceOps::zoneModeNames());
        mode->setCurrentIndex(-1);
        auto* delay = place(new QSpinBox(this), QStringLiteral("OpDelay%1").arg(n), 272, y, 57, 24);
        delay->setRange(0, 255);
        delay->setValue(n == 1 ? 30 : 0);
        m_modes[size_t(n - 1)] = mode;
        m_delays[size_t(n - 1)] = delay;
        LbSens[size_t(n - 1)] = label(this, QStringLiteral("LbSens%1").arg(n), QStringLiteral("Зона %1:").arg(n), 16,
                                      18 + 24 * (n - 1), 42, 13);
        LbSens[size_t(n - 1)]->setBuddy(mode);
        // An editable box would otherwise be read out by its text, the mode.
        mode->setAccessibleName(QStringLiteral("Зона %1").arg(n));
        delay->setAccessibleName(QStringLiteral("Задержка зоны %1").arg(n));
    }
    SensMode1 = m_modes[0];
    SensMode2 = m_modes[1];
    SensMode3 = m_modes[2];
    SensMode4 = m_modes[3];
    SensMode5 = m_modes[4];
    SensMode6 = m_modes[5];
    SensMode7 = m_modes[6];
    OpDelay1 = m_delays[0];
    OpDelay2 = m_delays[1];
    OpDelay3 = m_delays[2];
    OpDelay4 = m_delays[3];
    OpDelay5 = m_delays[4];
    OpDelay6 = m_delays[5];
    OpDelay7 = m_delays[6];

    BtCancelParams = button(this, QStringLiteral("BtCancelParams"), QStringLiteral("Закрыть"), 40, 304, 105, 25);
    BtWrParams = button(this, QStringLiteral("BtWrParams"), QStringLiteral("Записать"), 208, 304, 105, 25);
    CloseDelay = place(new QSpinBox(this), QStringLiteral("CloseDelay"), 272, 224, 57, 24);
    CloseDelay->setRange(0, 255);
    CloseDelay->setValue(30);
    EnBypass = place(new TLeftCheckBox(QStringLiteral("Разрешение пропуска:"), this), QStringLiteral("EnBypass"), 16,
                     208, 169, 17);
    CBDisExtCode = place(new TLeftCheckBox(QStringLiteral("Разрешение НСД:"), this), QStringLiteral("CBDisExtCode"), 16,
                         224, 169, 17);
    CBAutoClose = place(new TLeftCheckBox(QStringLiteral("Автовзятие:"), this), QStringLiteral("CBAutoClose"), 16, 240,
                        169, 17);
    CBIndicOnlyAlarm = place(new TLeftCheckBox(QStringLiteral("Индикатор только тревоги:"), this),
                             QStringLiteral("CBIndicOnlyAlarm"), 16, 256, 169, 17);
    CBNoMAT = place(new TLeftCheckBox(QStringLiteral("Без передатчика:"), this), QStringLiteral("CBNoMAT"), 16, 272,
                    169, 17);
    LbCloseDel = label(this, QStringLiteral("LbCloseDel"), QStringLiteral("Задержка на выход:"), 224, 202, 113, 13);
    LbCloseDel->setBuddy(CloseDelay);
    CloseDelay->setAccessibleName(QStringLiteral("Задержка на выход"));

    makeCancelKind(this, BtCancelParams);
    makeOkKind(this, BtWrParams);
    chainTabOrder({SensMode1,    BtCancelParams, BtWrParams,       OpDelay1, SensMode2, OpDelay2,
                   SensMode3,    OpDelay3,       CloseDelay,       EnBypass, SensMode4, OpDelay4,
                   SensMode5,    OpDelay5,       SensMode6,        OpDelay6, SensMode7, OpDelay7,
                   CBDisExtCode, CBAutoClose,    CBIndicOnlyAlarm, CBNoMAT});
}

void TSFParams::prepareFor(Model model)
{
    for (QComboBox* mode : m_modes) {
        // Judged by the text: the boxes take typed text, and a text naming no mode means no choice.
        const int code = DeviceOps::zoneModeCode(mode->currentText());
        mode->setCurrentIndex(code < 0 ? 0 : code);
    }
    const bool sevenZones = model == Model::QM407M;
    for (int n = 4; n <= DeviceOps::ZoneCount; ++n) {
        SensMode(n)->setEnabled(sevenZones);
        OpDelay(n)->setEnabled(sevenZones);
    }
    for (QCheckBox* option : {CBDisExtCode, CBAutoClose, CBIndicOnlyAlarm, CBNoMAT})
        option->setEnabled(sevenZones);
}

DeviceOps::ZoneParams TSFParams::params() const
{
    DeviceOps::ZoneParams p;
    for (size_t i = 0; i < m_modes.size(); ++i) {
        p.modes[i] = DeviceOps::zoneModeCode(m_modes[i]->currentText());
        p.delays[i] = m_delays[i]->value();
    }
    p.closeDelay = CloseDelay->value();
    p.enBypass = EnBypass->isChecked();
    p.disExtCode = CBDisExtCode->isChecked() && CBDisExtCode->isEnabled();
    p.autoClose = CBAutoClose->isChecked();
    p.indicOnlyAlarm = CBIndicOnlyAlarm->isChecked();
    p.noMat = CBNoMAT->isChecked();
    return p;
}

TSFSetupTrink::TSFSetupTrink(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFSetupTrink"), QString(), QSize(189, 126), Frame::Bare)
{
    BtTrinkCancel = button(this, QStringLiteral("BtTrinkCancel"), QStringLiteral("Отмена"), 40, 80, 105, 25);
    LbSetupTrink
        = label(this, QStringLiteral("LbSetupTrink"),
                QStringLiteral("Установка брелка.\nНажмите кнопку '1' на брелке и удерживайте ее нажатой 2 сек"), 0, 8,
                185, 49);
    LbSetupTrink->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LbSetupTrink->setWordWrap(true);
    // Without a title a screen reader has nothing else to call the window by.
    setAccessibleName(QStringLiteral("Установка брелка"));
    setAccessibleDescription(LbSetupTrink->text());
    BtTrinkCancel->setIcon(cancelIcon());
    setCancelButton(BtTrinkCancel);
    bindButton(BtTrinkCancel, mrNone);
}

TSFMakeFile::TSFMakeFile(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFMakeFile"), QStringLiteral("Ошибка открытия базы данных"),
                 QSize(289, 150), Frame::Fixed)
{
    BtRestore = button(this, QStringLiteral("BtRestore"), QStringLiteral("Восстановить из копии"), 24, 24, 241, 25);
    BtNew = button(this, QStringLiteral("BtNew"), QStringLiteral("Создать заново"), 24, 64, 241, 25);
    BtTerminate = button(this, QStringLiteral("BtTerminate"), QStringLiteral("Завершить"), 24, 104, 241, 25);
    setDefaultButton(BtRestore);
    bindButton(BtRestore, mrOk);
    bindButton(BtNew, mrOk);
    setCancelButton(BtTerminate);
    bindButton(BtTerminate, mrCancel);
    chainTabOrder({BtRestore, BtNew, BtTerminate});
}

QStringList TSFTrinketDefine::jumperLines()
{
    const QString frame = QStringLiteral("  ") + QString(28, QLatin1Char('-'));
    const QString side = QStringLiteral("  |") + QString(27, QLatin1Char(' ')) + QStringLiteral("|");
    return {QStringLiteral("Расположение отдельных разрядов кода на плате:"),
            frame,
            side,
            side,
            side,
            side + QStringLiteral("     код:"),
            side + QStringLiteral("  9876543210"),
            side,
            QStringLiteral("  |1 0") + QString(22, QLatin1Char(' ')) + QStringLiteral("|"),
            side,
            QStringLiteral("  |   2 3 4 5 6 7 8 9 |"),
            frame,
            QStringLiteral("'0' - разряд связан с GND, связь с UCC разорвана"),
            QStringLiteral("'1' - разряд связан с UCC, связь с GND разорвана"),
            QStringLiteral("'X' - свободный разряд, связь с UCC и GND разорвана")};
}

TSFTrinketDefine::TSFTrinketDefine(QWidget* mainWindow)
    : TAuxWindow(mainWindow, QStringLiteral("SFTrinketDefine"), QStringLiteral("Перемычки, разрываемые в брелке"),
                 QSize(293, 214), Frame::Fixed)
{
    setFont(courierFont());
    MmTrinkDefine = fillingMemo(QStringLiteral("MmTrinkDefine"), jumperLines().join(QLatin1Char('\n')));
    MmTrinkDefine->setFont(microsoftSansFont());
    MmTrinkDefine->setReadOnly(true);
    MmTrinkDefine->setLineWrapMode(QPlainTextEdit::NoWrap);
    MmTrinkDefine->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MmTrinkDefine->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}
