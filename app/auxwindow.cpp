#include "app/auxwindow.h"

#include "app/lifecycle.h"
#include "app/messagebox.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>

namespace {

QFont pixelFont(const QStringList& families, int pixels)
{
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixels);
    return font;
}

Qt::WindowFlags flagsFor(TAuxWindow::Frame frame)
{
    const Qt::WindowFlags base = Qt::Dialog | Qt::CustomizeWindowHint;
    switch (frame) {
    case TAuxWindow::Frame::Fixed:
        return base | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint;
    case TAuxWindow::Frame::Resizable:
        return base | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
            | Qt::WindowCloseButtonHint;
    case TAuxWindow::Frame::Bare:
        return base | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint;
    }
    return base;
}

} // namespace

TAuxWindow::TAuxWindow(QWidget* mainWindow, const QString& name, const QString& caption, QSize clientSize, Frame frame)
    : QDialog(mainWindow, flagsFor(frame))
    , m_mainWindow(mainWindow)
{
    setObjectName(name);
    setWindowTitle(caption);
    setFont(sansFont());
    setSizeGripEnabled(false);
    if (frame == Frame::Resizable)
        resize(clientSize);
    else
        setFixedSize(clientSize);
}

int TAuxWindow::ShowModal()
{
    if (m_modal || isVisible())
        return mrNone;
    m_result = mrNone;
    centreOverMainWindow();
    m_modal = true;
    QPointer<TAuxWindow> alive(this);
    qCInfo(lcLifecycle, "showing %s", qUtf8Printable(objectName()));
    exec();
    if (!alive)
        return mrCancel;
    m_modal = false;
    return m_result;
}

void TAuxWindow::Show()
{
    if (m_modal)
        return;
    if (!isVisible())
        centreOverMainWindow();
    show();
    raise();
    activateWindow();
}

void TAuxWindow::Hide()
{
    if (!m_modal)
        hide();
}

void TAuxWindow::SetModalResult(int value)
{
    m_result = value;
    if (m_modal && value != mrNone && !m_inClick)
        QDialog::done(value);
}

void TAuxWindow::bindButton(QAbstractButton* button, int result)
{
    m_results[button] = result;
    connect(button, &QAbstractButton::clicked, this, [this, button] { onButtonClicked(button); });
}

void TAuxWindow::setClickHandler(QAbstractButton* button, std::function<void()> handler)
{
    if (m_results.find(button) == m_results.end())
        bindButton(button, mrNone);
    m_handlers[button] = std::move(handler);
}

void TAuxWindow::setDefaultButton(QPushButton* button)
{
    m_defaultButton = button;
    button->setDefault(true);
}

void TAuxWindow::setCancelButton(QPushButton* button)
{
    m_cancelButton = button;
}

void TAuxWindow::onButtonClicked(QAbstractButton* button)
{
    QPointer<TAuxWindow> alive(this);
    m_result = m_results[button];
    const auto handler = m_handlers.find(button);
    if (handler != m_handlers.end() && handler->second) {
        m_inClick = true;
        RunGuarded(handler->second);
        if (!alive)
            return;
        m_inClick = false;
    }
    if (m_modal && m_result != mrNone)
        QDialog::done(m_result);
}

void TAuxWindow::reject()
{
    m_result = mrCancel;
    if (m_modal)
        QDialog::done(mrCancel);
    else
        hide();
}

void TAuxWindow::done(int result)
{
    m_result = result;
    QDialog::done(result);
}

void TAuxWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_cancelButton) {
            if (m_cancelButton->isVisible() && m_cancelButton->isEnabled())
                m_cancelButton->click();
        } else if (m_modal) {
            // Windows without buttons (journal, memory dump, jumpers) close on Esc too.
            reject();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAuxWindow::centreOverMainWindow()
{
    if (!m_mainWindow)
        return;
    const QRect main = m_mainWindow->frameGeometry();
    const QSize frame = frameGeometry().size();
    move(main.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

QFont TAuxWindow::sansFont()
{
    return pixelFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")},
                     11);
}

QFont TAuxWindow::courierFont()
{
    QFont font = pixelFont({QStringLiteral("Courier"), QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                            QStringLiteral("Cousine"), QStringLiteral("DejaVu Sans Mono")},
                           11);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

QFont TAuxWindow::microsoftSansFont()
{
    return pixelFont({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")},
                     11);
}

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent)
    , m_group(new QButtonGroup(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], this);
        m_group->addButton(radio, i);
        layout->addWidget(radio);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit itemIndexChanged(id);
    });
}

int TRadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::setItemIndex(int index)
{
    if (index == ItemIndex())
        return;
    if (QAbstractButton* radio = m_group->button(index)) {
        radio->setChecked(true);
        return;
    }
    // No choice: an exclusive group can't uncheck its last button itself.
    m_group->setExclusive(false);
    for (QAbstractButton* radio : m_group->buttons())
        radio->setChecked(false);
    m_group->setExclusive(true);
    emit itemIndexChanged(-1);
}

int TRadioGroup::count() const
{
    return int(m_group->buttons().size());
}

QAbstractButton* TRadioGroup::button(int index) const
{
    return m_group->button(index);
}

TLeftCheckBox::TLeftCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{
}

void TLeftCheckBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const int indicatorWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);

    QStyleOptionButton indicator = option;
    indicator.rect = QRect(width() - indicatorWidth, (height() - indicatorHeight) / 2, indicatorWidth, indicatorHeight);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);

    QStyleOptionButton label = option;
    label.rect = QRect(0, 0, width() - indicatorWidth - 4, height());
    painter.drawControl(QStyle::CE_CheckBoxLabel, label);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = painter.fontMetrics().boundingRect(label.rect, Qt::AlignLeft | Qt::AlignVCenter, text());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool TLeftCheckBox::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

QPlainTextEdit* TAuxWindow::fillingMemo(const QString& name, const QString& text)
{
    auto* memo = new QPlainTextEdit(text, this);
    memo->setObjectName(name);
    memo->setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo);
    return memo;
}
