#pragma once

#include "app/uiseam.h"

#include <QList>
#include <QString>

#include <functional>

// Every message the tool shows goes through ShowMessageBox: one place for the box kinds, the
// task-modal behaviour and the test seam.
namespace MessageBoxFlags {
constexpr int Error = 0x2010; // stop icon, OK, task-modal
constexpr int Confirmation = 0x2034; // exclamation icon, Yes and No, task-modal
constexpr int Result = 0x2040; // information icon, OK, task-modal
constexpr int Uncaught = 0x10; // stop icon, OK
constexpr int GridConfirm = 0x21; // question icon, OK and Cancel (the grid's own question)
} // namespace MessageBoxFlags

enum MessageBoxButton
{
    ButtonOk = 1,
    ButtonCancel = 2,
    ButtonYes = 6,
    ButtonNo = 7,
};

// Shows the box and gives back the code of the pressed button.
int ShowMessageBox(const QString& text, const QString& caption, int flags);

void ShowError(const QString& text); // "Ошибка"
bool AskConfirmation(const QString& text); // "Предупреждение"; true on Yes
void ShowResult(const QString& text, const QString& caption); // "Версия" or "Брелок"
// An error that escaped a handler: full stop rule, captioned with the application title.
void ShowUncaughtError(const QString& message);
// Only inside a catch block: shows the exception being handled through ShowUncaughtError, by
// its own text when it is one of the core's errors.
void ShowUncaughtException();

// The executable's file name cut at its first full stop, lower case after the first character.
QString ApplicationTitle();
QString ApplicationTitleFor(const QString& executablePath);
// Appends "." unless the last character's code is at most that of ".".
QString WithFullStop(const QString& message);

// Runs a handler and shows whatever escapes it through ShowUncaughtError: no exception may
// leave a Qt slot or event handler.
void RunGuarded(const std::function<void()>& handler);
// Connect helper: a slot-compatible callable that runs obj->*method guarded.
template <class Obj> std::function<void()> Guarded(Obj* obj, void (Obj::*method)())
{
    return [obj, method] { RunGuarded([=] { (obj->*method)(); }); };
}

struct MessageBoxShown
{
    QString text;
    QString caption;
    int flags;
    int answer;
};

// Test seam: scripted answers and a record of every box. While an answer is queued, or in
// unattended mode, no real box is shown; unattended, a box is answered with its first button
// (OK, or No for a Yes/No question).
class MessageBoxSeam final : public UiSeamFront<MessageBoxShown, int>
{
public:
    using Shown = MessageBoxShown;
    static QList<Shown> shown() { return seam().requests(); }
    static QStringList texts();
    static Shown last();
};
