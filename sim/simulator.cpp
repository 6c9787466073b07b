#include "sim/simulator.h"

#include <algorithm>
#include <deque>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

// 10 bits per byte at 9600 baud.
constexpr auto ByteTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 9600);
// A timer wake-up comes late, by tens of microseconds on a virtual machine, and every late paced
// byte would stretch the line. The thread wakes as early as its wake-ups have lately been late and
// polls the rest of the way. A wake-up held up longer by other programs counts as this late only,
// so a busy machine does not keep the thread polling for long.
constexpr auto MaxWakeLead = std::chrono::microseconds(200);

timespec timespecOf(Clock::duration d)
{
    const long long ns = std::max<long long>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
    return timespec {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

// The controller's side of the protocol, kept apart from the tool's Controller on purpose: a
// shared table would let one mistake pass both sides unseen.
constexpr quint8 Prefix = 'S';
constexpr quint8 Ack = 'U';
constexpr quint8 CmdVersion = 0x10;
constexpr quint8 CmdJournal = 0x11;
constexpr quint8 CmdTest = 0x12;
constexpr quint8 CmdWriteCell = 0x13;
constexpr quint8 CmdReadCell = 0x14;
constexpr quint8 CmdCrc = 0x15;
constexpr quint8 CmdEnrol0 = 0x16;
constexpr quint8 CmdEnrol2 = 0x18;
constexpr quint8 CmdCancel = 0x00;

// Length of a frame that starts with 'S', by its command byte.
int frameLength(quint8 command)
{
    switch (command) {
    case CmdJournal:
    case CmdReadCell:
        return 3;
    case CmdWriteCell:
        return 4;
    default:
        return 2;
    }
}

struct CellMap
{
    int trinketBase;
    int counterBase;
    int journalLength;
};

// The controller's own layout; kept apart from the tool's tables on purpose.
CellMap cellMap(int major, int minor)
{
    if (major == 2 || major == 3)
        return {17, 89, 38};
    if (major == 1 && minor == 1)
        return {11, 67, 44};
    return {9, 65, 44};
}

bool isEnrol(int command)
{
    return command >= CmdEnrol0 && command <= CmdEnrol2;
}
} // namespace

struct Qm407Simulator::Impl
{
    struct Out
    {
        QByteArray bytes;
        int pos = 0;
        Clock::time_point start;
        bool paced = false;
    };
    struct PendingFrame
    {
        QByteArray bytes;
        Clock::time_point due;
    };

    mutable std::mutex mutex;
    std::condition_variable waitChanged;
    std::thread thread;
    bool running = false;
    int master = -1;
    int slave = -1; // held open so the line never hangs up between the tool's opens
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread::id self; // the simulator's thread, which needs no wake-up from itself
    QString path;

    int major = 1;
    int minor = 0;
    std::array<quint8, 256> memory {};
    std::map<int, std::pair<quint8, quint32>> journal;
    std::map<quint8, Fault> faults;
    std::map<quint8, int> requestCounts;
    quint8 enrolReply = Ack;
    int waiting = 0;
    Fault waitFault;
    std::optional<quint32> pendingEnrolPress;
    std::optional<std::pair<quint8, quint8>> pendingTestPress;
    bool pacing = false;
    int chatterMs = 0;
    quint8 chatterByte = 0x42;
    Clock::time_point nextChatter;
    std::function<void(int)> onWait;
    std::function<void(const LogEntry&)> onFrame;
    std::vector<LogEntry> log;
    int crcCount = 0;

    QByteArray rx;
    Clock::time_point inFree;
    std::deque<PendingFrame> frames;
    std::deque<Out> out;
    Clock::time_point outFree;
    bool wantWrite = false;
    bool bytePending = false; // the time transmit() gave is a paced byte's
    Clock::duration wakeLead {}; // how late the thread's wake-ups have lately been, averaged

    // Work for the thread to do once the lock is released.
    std::vector<std::function<void()>> callbacks;

    void wake()
    {
        if (std::this_thread::get_id() == self)
            return;
        const char b = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite, &b, 1);
    }

    void addLog(bool fromTool, const QByteArray& bytes, Clock::time_point at = Clock::now())
    {
        LogEntry e {fromTool, bytes, at};
        log.push_back(e);
        if (onFrame) {
            auto f = onFrame;
            callbacks.push_back([f, e] { f(e); });
        }
    }

    void send(const QByteArray& bytes, Clock::time_point start)
    {
        if (bytes.isEmpty())
            return;
        out.push_back(Out {bytes, 0, start, pacing});
        wake();
    }

    Fault faultFor(quint8 command)
    {
        const int count = ++requestCounts[command];
        auto it = faults.find(command);
        if (it == faults.end() && isEnrol(command))
            it = faults.find(CmdEnrol0);
        if (it == faults.end() || count <= it->second.afterCount)
            return {};
        if (it->second.times > 0 && count > it->second.afterCount + it->second.times)
            return {};
        return it->second;
    }

    void reply(const Fault& fault, QByteArray bytes, Clock::time_point at)
    {
        switch (fault.kind) {
        case Fault::None:
        case Fault::DropWrite:
            break;
        case Fault::NoReply:
            return;
        case Fault::ShortReply:
            bytes.truncate(fault.replyBytes);
            break;
        case Fault::WrongAck:
            bytes[bytes.size() - 1] = char(fault.ackByte);
            break;
        case Fault::Garbage:
            bytes = QByteArray(fault.replyBytes > 0 ? fault.replyBytes : bytes.size(), char(0xAA));
            break;
        }
        send(bytes, at + std::chrono::milliseconds(fault.delayMs));
    }

    void beginWait(int command, const Fault& fault)
    {
        waiting = command;
        waitFault = fault;
        waitChanged.notify_all();
        if (onWait) {
            auto f = onWait;
            const int slot = command == CmdTest ? -1 : command - CmdEnrol0;
            callbacks.push_back([f, slot] { f(slot); });
        }
        if (isEnrol(command) && pendingEnrolPress) {
            answerEnrol(*pendingEnrolPress);
            pendingEnrolPress.reset();
        } else if (command == CmdTest && pendingTestPress) {
            answerTest(pendingTestPress->first, pendingTestPress->second);
            pendingTestPress.reset();
        }
    }

    void endWait()
    {
        waiting = 0;
        waitChanged.notify_all();
    }

    void answerEnrol(quint32 code)
    {
        const int base = cellMap(major, minor).trinketBase + 3 * (waiting - CmdEnrol0);
        for (int i = 0; i < 3; ++i)
            memory[(base + i) & 0xFF] = quint8(code >> (8 * i));
        const Fault fault = waitFault;
        endWait();
        reply(fault, QByteArray(1, char(enrolReply)), Clock::now());
    }

    void answerTest(quint8 button, quint8 ack)
    {
        const Fault fault = waitFault;
        endWait();
        QByteArray bytes;
        bytes.append(char(button));
        bytes.append(char(ack));
        reply(fault, bytes, Clock::now());
    }

    // `now` is when the request was complete on the line: the answer starts from there, however
    // late the thread woke up to it.
    void process(const QByteArray& frame, Clock::time_point now)
    {
        addLog(true, frame, now);
        if (frame.size() == 2 && frame.at(0) == 0 && frame.at(1) == 0) {
            if (!waiting)
                return;
            const bool test = waiting == CmdTest;
            endWait();
            reply(faultFor(CmdCancel), test ? QByteArray("\0U", 2) : QByteArray(1, char(Ack)), now);
            return;
        }
        if (frame.size() < 2 || quint8(frame.at(0)) != Prefix)
            return;

        const quint8 command = quint8(frame.at(1));
        const auto arg = [&frame](int i) { return quint8(frame.at(2 + i)); };
        QByteArray answer;
        switch (command) {
        case CmdVersion:
            answer.append(char(minor));
            answer.append(char(major));
            break;
        case CmdJournal: {
            std::pair<quint8, quint32> entry {0, 0};
            const auto it = journal.find(arg(0));
            if (it != journal.end() && arg(0) < cellMap(major, minor).journalLength)
                entry = it->second;
            answer.append(char(entry.first));
            for (int i = 0; i < 3; ++i)
                answer.append(char(quint8(entry.second >> (8 * i))));
            break;
        }
        case CmdWriteCell: {
            const Fault fault = faultFor(command);
            if (fault.kind != Fault::DropWrite)
                memory[arg(0)] = arg(1);
            reply(fault, QByteArray(1, char(Ack)), now);
            return;
        }
        case CmdReadCell:
            answer.append(char(memory[arg(0)]));
            break;
        case CmdCrc:
            ++crcCount;
            break;
        case CmdTest:
        case CmdEnrol0:
        case CmdEnrol0 + 1:
        case CmdEnrol2:
            beginWait(command, faultFor(command));
            return;
        default:
            return; // unknown commands are ignored, as the controller does
        }
        answer.append(char(Ack));
        reply(faultFor(command), answer, now);
    }

    // Splits received bytes into frames; a frame may arrive over several reads.
    void parse()
    {
        while (!rx.isEmpty()) {
            const quint8 first = quint8(rx.at(0));
            int length = 1;
            if (first == Prefix) {
                if (rx.size() < 2)
                    return;
                length = frameLength(quint8(rx.at(1)));
            } else if (first == 0) {
                if (rx.size() < 2)
                    return;
                length = rx.at(1) == 0 ? 2 : 1;
            }
            if (rx.size() < length)
                return;
            frames.push_back(PendingFrame {rx.left(length), inFree});
            rx.remove(0, length);
        }
    }

    void receive(Clock::time_point now)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i) {
                // Paced, a byte is only complete once the line has carried it.
                inFree = pacing ? std::max(inFree, now) + ByteTime : now;
                rx.append(buffer[i]);
                parse();
            }
        }
    }

    // Writes what is due; gives the time of the next byte that is not yet due.
    std::optional<Clock::time_point> transmit(Clock::time_point now)
    {
        wantWrite = false;
        bytePending = false;
        while (!out.empty()) {
            Out& o = out.front();
            if (o.paced) {
                const Clock::time_point due = std::max(outFree, o.start) + ByteTime;
                if (due > now) {
                    bytePending = true;
                    return due;
                }
                if (::write(master, o.bytes.constData() + o.pos, 1) != 1) {
                    wantWrite = true;
                    return std::nullopt;
                }
                outFree = due;
                ++o.pos;
            } else {
                if (o.start > now)
                    return o.start;
                const ssize_t n = ::write(master, o.bytes.constData() + o.pos, size_t(o.bytes.size() - o.pos));
                if (n <= 0) {
                    wantWrite = true;
                    return std::nullopt;
                }
                outFree = now;
                o.pos += int(n);
            }
            if (o.pos == o.bytes.size()) {
                addLog(false, o.bytes);
                out.pop_front();
            }
        }
        return std::nullopt;
    }

    // Waits for input, a wake-up or the time `until`. Before a paced byte the last stretch is
    // polled without sleeping, so the byte leaves when the line would have delivered it; input
    // arriving meanwhile still ends the wait at once.
    void waitFor(pollfd* fds, std::optional<Clock::time_point> until, bool exact)
    {
        if (!until) {
            ::ppoll(fds, 2, nullptr, nullptr);
            return;
        }
        const Clock::time_point wakeAt = exact ? *until - wakeLead : *until;
        const Clock::time_point now = Clock::now();
        if (now < wakeAt) {
            const timespec timeout = timespecOf(wakeAt - now);
            if (::ppoll(fds, 2, &timeout, nullptr) != 0 || !exact)
                return;
            const Clock::duration late = std::clamp<Clock::duration>(Clock::now() - wakeAt, {}, MaxWakeLead);
            wakeLead += (late - wakeLead) / 8;
        }
        const timespec zero {};
        while (exact && Clock::now() < *until) {
            if (::ppoll(fds, 2, &zero, nullptr) != 0)
                return;
        }
    }

    void run()
    {
        // The default 50 us timer slack would stretch every paced byte; ask for exact wake-ups.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::unique_lock<std::mutex> lock(mutex);
        self = std::this_thread::get_id();
        while (running) {
            const Clock::time_point now = Clock::now();
            while (!frames.empty() && frames.front().due <= now) {
                const PendingFrame f = frames.front();
                frames.pop_front();
                process(f.bytes, f.due);
            }
            if (chatterMs > 0 && now >= nextChatter) {
                send(QByteArray(1, char(chatterByte)), now);
                nextChatter = now + std::chrono::milliseconds(chatterMs);
            }

            std::optional<Clock::time_point> next = transmit(now);
            bool exact = bytePending;
            const auto earliest = [&next, &exact](Clock::time_point t) {
                if (!next || t < *next) {
                    next = t;
                    exact = false;
                }
            };
            if (!frames.empty())
                earliest(frames.front().due);
            if (chatterMs > 0)
                earliest(nextChatter);

            pollfd fds[2] = {{master, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0}, {wakeRead, POLLIN, 0}};
            std::vector<std::function<void()>> work;
            work.swap(callbacks);
            lock.unlock();
            for (const auto& f : work)
                f();
            if (work.empty())
                waitFor(fds, next, exact);
            if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
                // Nobody has the line open; look again shortly instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            lock.lock();

            if (fds[1].revents & POLLIN) {
                char drain[64];
                while (::read(wakeRead, drain, sizeof drain) > 0) { }
            }
            if (fds[0].revents & POLLIN)
                receive(Clock::now());
        }
    }
};

Qm407Simulator::Qm407Simulator()
    : d(new Impl)
{
}

Qm407Simulator::~Qm407Simulator()
{
    stop();
    delete d;
}

bool Qm407Simulator::start()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->running)
        return true;

    d->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d->master < 0)
        return false;
    char name[128] = {};
    int pipeFds[2] = {-1, -1};
    if (::grantpt(d->master) != 0 || ::unlockpt(d->master) != 0 || ::ptsname_r(d->master, name, sizeof name) != 0
        || ::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(d->master);
        d->master = -1;
        return false;
    }
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];
    d->slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    // Raw both ways: no echo, no line editing, no translation of bytes.
    termios tio {};
    if (::tcgetattr(d->master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(d->master, TCSANOW, &tio);
    }

    d->path = QString::fromLocal8Bit(name);
    d->rx.clear();
    d->frames.clear();
    d->out.clear();
    d->running = true;
    d->inFree = d->outFree = Clock::now();
    d->thread = std::thread([this] { d->run(); });
    return true;
}

void Qm407Simulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->running)
            return;
        d->running = false;
        d->wake();
    }
    d->thread.join();
    std::lock_guard<std::mutex> lock(d->mutex);
    for (int* fd : {&d->slave, &d->master, &d->wakeRead, &d->wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    d->waiting = 0;
    d->waitChanged.notify_all();
}

QString Qm407Simulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

void Qm407Simulator::setVersion(int major, int minor)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->major = major & 0xFF;
    d->minor = minor & 0xFF;
}

Qm407Simulator::Variant Qm407Simulator::variant() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->major == 2 || d->major == 3 ? Variant::QM407M : Variant::QM407;
}

quint8 Qm407Simulator::cell(int address) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->memory[address & 0xFF];
}

void Qm407Simulator::setCell(int address, quint8 value)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->memory[address & 0xFF] = value;
}

std::array<quint8, 256> Qm407Simulator::memory() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->memory;
}

void Qm407Simulator::setCounter(quint32 minutes)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const int base = cellMap(d->major, d->minor).counterBase;
    for (int i = 0; i < 3; ++i)
        d->memory[base + i] = quint8(minutes >> (8 * i));
}

void Qm407Simulator::setJournalEntry(int index, quint8 event, quint32 minutes)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->journal[index & 0xFF] = {event, minutes & 0xFFFFFF};
}

void Qm407Simulator::pressTrinket(quint32 code)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (isEnrol(d->waiting))
        d->answerEnrol(code & 0xFFFFFF);
    else
        d->pendingEnrolPress = code & 0xFFFFFF;
}

void Qm407Simulator::pressTestButton(quint8 buttonByte, quint8 ack)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->waiting == CmdTest)
        d->answerTest(buttonByte, ack);
    else
        d->pendingTestPress = std::make_pair(buttonByte, ack);
}

void Qm407Simulator::setEnrolReply(quint8 reply)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->enrolReply = reply;
}

bool Qm407Simulator::isWaiting() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->waiting != 0;
}

int Qm407Simulator::waitingCommand() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->waiting;
}

bool Qm407Simulator::waitForWait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->waitChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return d->waiting != 0; });
}

void Qm407Simulator::setOnWait(std::function<void(int slot)> onWait)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->onWait = std::move(onWait);
}

void Qm407Simulator::setOnFrame(std::function<void(const LogEntry&)> onFrame)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->onFrame = std::move(onFrame);
}

void Qm407Simulator::setFault(quint8 command, const Fault& fault)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults[command] = fault;
    d->requestCounts[command] = 0;
}

void Qm407Simulator::clearFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.clear();
    d->requestCounts.clear();
}

void Qm407Simulator::setPacing(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->pacing = on;
}

void Qm407Simulator::inject(const QByteArray& bytes, int afterMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->running)
        d->send(bytes, Clock::now() + std::chrono::milliseconds(afterMs));
}

void Qm407Simulator::setChatter(int intervalMs, quint8 byte)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->chatterMs = std::max(0, intervalMs);
    d->chatterByte = byte;
    d->nextChatter = Clock::now();
    if (d->running)
        d->wake();
}

std::vector<Qm407Simulator::LogEntry> Qm407Simulator::log() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->log;
}

QByteArray Qm407Simulator::received() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QByteArray all;
    for (const LogEntry& e : d->log) {
        if (e.fromTool)
            all += e.bytes;
    }
    return all;
}

QByteArray Qm407Simulator::sent() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QByteArray all;
    for (const LogEntry& e : d->log) {
        if (!e.fromTool)
            all += e.bytes;
    }
    return all;
}

void Qm407Simulator::clearLog()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
}

int Qm407Simulator::crcRequests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->crcCount;
}
