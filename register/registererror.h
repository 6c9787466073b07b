#pragma once

#include <QString>

#include <stdexcept>

// An error of the register or its data file; it carries only its message text
// ("Stream read error", "Invalid stream format", ...).
class RegisterError : public std::runtime_error
{
public:
    explicit RegisterError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
