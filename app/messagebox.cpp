#include "app/messagebox.h"

#include "error/messageerror.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <exception>

namespace {

int firstButton(int flags)
{
    switch (flags & 0x0F) {
    case 4: // Yes/No: never answer a question with Yes unasked
        return ButtonNo;
    default:
        return ButtonOk;
    }
}

QMessageBox::Icon iconOf(int flags)
{
    switch (flags & 0xF0) {
    case 0x10:
        return QMessageBox::Critical;
    case 0x20:
        return QMessageBox::Question;
    case 0x30:
        return QMessageBox::Warning;
    case 0x40:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int showRealBox(const QString& text, const QString& caption, int flags)
{
    QMessageBox box(iconOf(flags), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    // Task-modal: every window of the tool is blocked while the box is up.
    box.setWindowModality(Qt::ApplicationModal);
    switch (flags & 0x0F) {
    case 1:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case 4:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    // A wait cursor set by a blocking command must not hide the box's buttons.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (waiting)
        QApplication::restoreOverrideCursor();
    const auto* clicked = box.clickedButton();
    switch (box.standardButton(const_cast<QAbstractButton*>(clicked))) {
    case QMessageBox::Yes:
        return ButtonYes;
    case QMessageBox::No:
        return ButtonNo;
    case QMessageBox::Cancel:
        return ButtonCancel;
    case QMessageBox::Ok:
        return ButtonOk;
    default:
        // Closed without a button (quit request): the safe answer.
        return (flags & 0x0F) == 4 ? ButtonNo : (flags & 0x0F) == 1 ? ButtonCancel : ButtonOk;
    }
}

} // namespace

int ShowMessageBox(const QString& text, const QString& caption, int flags)
{
    return MessageBoxSeam::seam().ask({text, caption, flags, 0}, firstButton(flags),
                                      [&] { return showRealBox(text, caption, flags); });
}

void ShowError(const QString& text)
{
    ShowMessageBox(text, QStringLiteral("Ошибка"), MessageBoxFlags::Error);
}

bool AskConfirmation(const QString& text)
{
    return ShowMessageBox(text, QStringLiteral("Предупреждение"), MessageBoxFlags::Confirmation) == ButtonYes;
}

void ShowResult(const QString& text, const QString& caption)
{
    ShowMessageBox(text, caption, MessageBoxFlags::Result);
}

void ShowUncaughtError(const QString& message)
{
    ShowMessageBox(WithFullStop(message), ApplicationTitle(), MessageBoxFlags::Uncaught);
}

void ShowUncaughtException()
{
    try {
        throw;
    } catch (const MessageError& e) {
        ShowUncaughtError(e.message());
    } catch (const std::exception& e) {
        ShowUncaughtError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowUncaughtError(QStringLiteral("Unknown error"));
    }
}

QString ApplicationTitle()
{
    return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

QString ApplicationTitleFor(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const int stop = name.indexOf(QLatin1Char('.'));
    if (stop >= 0)
        name.truncate(stop);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString WithFullStop(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void RunGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        ShowUncaughtException();
    }
}

QStringList MessageBoxSeam::texts()
{
    QStringList list;
    for (const Shown& s : seam().requests())
        list << s.text;
    return list;
}

MessageBoxSeam::Shown MessageBoxSeam::last()
{
    return seam().requests().isEmpty() ? Shown {QString(), QString(), 0, 0} : seam().requests().back();
}
