#include "application.h"

#include "messagebox.h"

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowUncaughtError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowUncaughtError(QStringLiteral("Unknown error"));
    }
    return false;
}
