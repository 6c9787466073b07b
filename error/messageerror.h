#pragma once

#include <QString>

#include <stdexcept>

// The base of the core's errors: each carries only its message text, shown to the installer
// as it is. what() gives the same text in UTF-8 for code that knows only std::exception.
class MessageError : public std::runtime_error
{
public:
    explicit MessageError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
