#pragma once

#include <QString>

#include <stdexcept>

// The error of every failed controller exchange; it carries only its message text.
class DeviceError : public std::runtime_error
{
public:
    explicit DeviceError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
