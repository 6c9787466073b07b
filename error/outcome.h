#pragma once

#include <QString>

#include <optional>
#include <utility>

// What a file or register operation gives back: its value, or the message saying why there is
// none, for the window to show. Exchanges on the line throw instead (MessageError's kin).
template <class T> class [[nodiscard]] Expected
{
public:
    Expected(T value)
        : m_value(std::move(value))
    {
    }
    static Expected failure(const QString& message)
    {
        Expected e;
        e.m_error = message;
        return e;
    }
    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *m_value; }
    const T& operator*() const { return *m_value; }
    QString error() const { return m_error; }

private:
    Expected() = default;
    std::optional<T> m_value;
    QString m_error;
};

// An operation with nothing to give back but its success.
class [[nodiscard]] Outcome
{
public:
    Outcome() = default; // success
    static Outcome failure(const QString& message)
    {
        Outcome o;
        o.m_failed = true;
        o.m_error = message;
        return o;
    }
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    QString error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};
