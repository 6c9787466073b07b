#pragma once

#include <QApplication>

// The application object: an exception that escapes any event handler is shown by the
// uncaught-error display and the loop goes on, instead of ending the program.
class TApplication final : public QApplication
{
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
