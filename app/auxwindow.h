#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QSize>
#include <QStringList>

#include <functional>
#include <map>

class QAbstractButton;
class QPlainTextEdit;
class QButtonGroup;
class QPushButton;

// An auxiliary window of the main window: built once with it, shown modally or not, keeping
// its controls' contents (and an enlarged size) from one showing to the next.
class TAuxWindow : public QDialog
{
    Q_OBJECT

public:
    enum ModalResult
    {
        mrNone = 0,
        mrOk = 1,
        mrCancel = 2,
    };
    enum class Frame
    {
        Fixed, // dialog frame, close box only
        Resizable, // sizing frame, minimize, maximize and close boxes
        Bare, // no title, no boxes, above every other window
    };

    TAuxWindow(QWidget* mainWindow, const QString& name, const QString& caption, QSize clientSize, Frame frame);

    // Modal showing: the modal result (1 OK, 2 Cancel, or what a handler set last), or 0 at
    // once when the window is already on the screen.
    int ShowModal();
    void Show(); // without modality; nothing during a modal showing
    void Hide(); // nothing during a modal showing
    // During a modal showing a non-zero value closes the window once the running click
    // handler returns (at once outside a handler); 0 keeps it open.
    void SetModalResult(int value);
    int ModalResult() const { return m_result; }
    bool IsShowingModally() const { return m_modal; }

    // A click sets the window's modal result to `result`, runs the handler (errors go to the
    // uncaught-error display) and then closes a modal showing if the result is still non-zero.
    void bindButton(QAbstractButton* button, int result);
    void setClickHandler(QAbstractButton* button, std::function<void()> handler);
    // Enter presses the default button, Esc the cancel button.
    void setDefaultButton(QPushButton* button);
    void setCancelButton(QPushButton* button);
    QPushButton* defaultButton() const { return m_defaultButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // The fonts the windows use: "MS Sans Serif" 11 px and "Courier" 11 px where present,
    // metric-compatible faces otherwise.
    static QFont sansFont();
    static QFont courierFont();
    static QFont microsoftSansFont();

public slots:
    void reject() override; // close box: Cancel, no handler
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A memo filling the whole window, named after it for screen readers.
    QPlainTextEdit* fillingMemo(const QString& name, const QString& text = QString());

private:
    void onButtonClicked(QAbstractButton* button);
    void centreOverMainWindow();

    QWidget* m_mainWindow;
    int m_result = mrNone;
    bool m_modal = false;
    bool m_inClick = false;
    QPushButton* m_defaultButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    std::map<QAbstractButton*, int> m_results;
    std::map<QAbstractButton*, std::function<void()>> m_handlers;
};

// A titled group of radio buttons with one choice, read and set by position (-1: none).
class TRadioGroup final : public QGroupBox
{
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE setItemIndex NOTIFY itemIndexChanged)

public:
    TRadioGroup(const QString& title, const QStringList& items, QWidget* parent);
    int ItemIndex() const;
    void setItemIndex(int index);
    int count() const;
    QAbstractButton* button(int index) const;

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup* m_group;
};

// A check box with its caption on the left and the box at the right edge.
class TLeftCheckBox final : public QCheckBox
{
    Q_OBJECT

public:
    TLeftCheckBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
