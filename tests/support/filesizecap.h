#pragma once

#include <QtGlobal>

#include <csignal>
#include <sys/resource.h>

// Caps the size of any file this process writes (RLIMIT_FSIZE), with SIGXFSZ ignored so that a
// write past the cap fails instead of ending the test; both come back at lift() or at the end of
// the scope, also when an assertion leaves the test early. POSIX only.
class FileSizeCap final
{
public:
    explicit FileSizeCap(qint64 bytes)
        : m_handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        m_held = ::getrlimit(RLIMIT_FSIZE, &m_before) == 0;
        rlimit capped = m_before;
        capped.rlim_cur = rlim_t(bytes);
        m_held = m_held && ::setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeCap() { lift(); }
    Q_DISABLE_COPY_MOVE(FileSizeCap)

    bool active() const { return m_held; }
    void lift()
    {
        if (m_held)
            ::setrlimit(RLIMIT_FSIZE, &m_before);
        if (m_handler != SIG_ERR)
            std::signal(SIGXFSZ, m_handler);
        m_held = false;
        m_handler = SIG_ERR;
    }

private:
    rlimit m_before {};
    void (*m_handler)(int);
    bool m_held = false;
};
