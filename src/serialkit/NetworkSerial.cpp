#include "serialkit/NetworkSerial.h"

#include <gensio/gensio.h>
#include <gensio/gensio_err.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <list>
#include <thread>

#include "serialkit/NetworkPortName.h"
#include "serialkit/SerialConfig.h"

namespace serialkit {

namespace {

using Clock = std::chrono::steady_clock;

// How long a server gets to answer a line-setting request, and a close to finish.
constexpr auto kAnswerWait = std::chrono::milliseconds(3000);
constexpr auto kCloseWait = std::chrono::milliseconds(2000);
// Received bytes held before the connection stops reading (TCP then holds the sender back).
constexpr std::size_t kRxLimit = 1 << 20;

void handleWakeSignal(int) {}
void handleBrokenPipe(int) {}

// Installs `handler` for `sig` unless the program has its own.
void catchUnhandled(int sig, void (*handler)(int)) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
        (old.sa_flags & SA_SIGINFO) == 0) {
        struct sigaction sa {};
        sa.sa_handler = handler;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

// One gensio OS handler and one thread that services it, for the life of the process. Other
// threads make gensio calls too, so gensio needs a signal to wake the servicing thread; the
// handler is empty and the signal is blocked in that thread outside its waits.
class Runtime {
  public:
    static Runtime* get() {
        static Runtime* runtime = [] {
            auto* r = new Runtime();  // lives as long as the process, like its thread
            return r->os_ != nullptr ? r : nullptr;
        }();
        return runtime;
    }

    gensio_os_funcs* os() const { return os_; }

  private:
    Runtime() {
        catchUnhandled(SIGUSR1, handleWakeSignal);
        // A write to a connection the server has just dropped must fail, not end the process.
        // A handler rather than SIG_IGN, so programs started later get the default back.
        catchUnhandled(SIGPIPE, handleBrokenPipe);
        if (gensio_default_os_hnd(SIGUSR1, &os_) != 0) {
            os_ = nullptr;
            return;
        }
        gensio_os_funcs_set_vlog(os_, [](gensio_os_funcs*, enum gensio_log_levels, const char*,
                                         va_list) {});
        waiter_ = gensio_os_funcs_alloc_waiter(os_);
        std::thread([this] {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGUSR1);
            pthread_sigmask(SIG_BLOCK, &set, nullptr);
            for (;;) {
                gensio_os_funcs_wait(os_, waiter_, 1, nullptr);
            }
        }).detach();
    }

    gensio_os_funcs* os_ = nullptr;
    gensio_waiter* waiter_ = nullptr;
};

void signalFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void drainFd(int fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}

std::string gensioText(int err) { return gensio_err_to_str(err); }

// One RFC 2217 request and its answer, kept by the connection: the answer may come after the
// caller gave up, and the connection outlives its gensio.
struct Answer {
    NetworkSerial::Conn* conn = nullptr;
    bool answered = false;
    int err = 0;
    unsigned value = 0;

    static void callback(sergensio* sio, int err, unsigned value, void* data);
};

}  // namespace

struct NetworkSerial::Conn {
    gensio* io = nullptr;
    sergensio* sio = nullptr;  // only for rfc2217
    std::string name;

    std::mutex m;
    std::condition_variable changed;
    int users = 0;
    bool closing = false;
    int openResult = -1;  // gensio's error, once the open is done
    bool openStopped = false;
    bool closed = false;

    std::vector<std::uint8_t> rx;
    std::size_t rxPos = 0;
    bool readPaused = false;
    bool lost = false;
    bool writeReady = false;
    std::string lastError;
    std::list<Answer> answers;

    unsigned modemState = 0;
    bool ringSeen = false;
    unsigned lineErrors = 0;  // seen since queried
    int timeoutRx = 0;
    int timeoutTx = 0;

    // Readable while bytes wait or the connection is lost; a wake; a close.
    int dataFd = -1;
    int wakeFd = -1;
    int closeFd = -1;

    Conn() {
        dataFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        closeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    ~Conn() {
        for (int fd : {dataFd, wakeFd, closeFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    std::size_t waiting() const { return rx.size() - rxPos; }

    void markLost(const std::string& why) {
        if (!lost) {
            lost = true;
            lastError = why;
            signalFd(dataFd);
        }
        changed.notify_all();
    }

    // Called by gensio on its thread.
    static int onEvent(gensio* io, void* user, int event, int err, unsigned char* buf,
                       gensiods* len, const char* const*) {
        auto* c = static_cast<Conn*>(user);
        switch (event) {
            case GENSIO_EVENT_READ: {
                bool pause = false;
                {
                    std::lock_guard<std::mutex> lock(c->m);
                    if (err != 0) {
                        c->markLost(err == GE_REMCLOSE
                                        ? "Connection closed by the device server"
                                        : "Connection lost: " + gensioText(err));
                        pause = true;
                    } else {
                        const std::size_t room =
                            kRxLimit > c->waiting() ? kRxLimit - c->waiting() : 0;
                        const std::size_t take = std::min<std::size_t>(*len, room);
                        // Bytes already handed out go before the buffer grows, also when the
                        // reader never quite catches up.
                        if (c->rxPos > 0 && c->rxPos * 2 >= c->rx.size()) {
                            c->rx.erase(c->rx.begin(),
                                        c->rx.begin() + static_cast<std::ptrdiff_t>(c->rxPos));
                            c->rxPos = 0;
                        }
                        const bool wasEmpty = c->waiting() == 0;
                        c->rx.insert(c->rx.end(), buf, buf + take);
                        *len = take;
                        if (wasEmpty && take > 0) {
                            signalFd(c->dataFd);
                        }
                        if (take == 0 || c->waiting() >= kRxLimit) {
                            c->readPaused = true;
                            pause = true;
                        }
                    }
                }
                if (pause) {
                    gensio_set_read_callback_enable(io, false);
                }
                return 0;
            }
            case GENSIO_EVENT_WRITE_READY: {
                gensio_set_write_callback_enable(io, false);
                std::lock_guard<std::mutex> lock(c->m);
                c->writeReady = true;
                c->changed.notify_all();
                return 0;
            }
            case GENSIO_EVENT_SER_MODEMSTATE: {
                std::lock_guard<std::mutex> lock(c->m);
                c->modemState = *reinterpret_cast<unsigned*>(buf);
                if (c->modemState & (SERGENSIO_MODEMSTATE_RI | SERGENSIO_MODEMSTATE_RI_CHANGED)) {
                    c->ringSeen = true;
                }
                return 0;
            }
            case GENSIO_EVENT_SER_LINESTATE: {
                std::lock_guard<std::mutex> lock(c->m);
                c->lineErrors |= *reinterpret_cast<unsigned*>(buf);
                return 0;
            }
            default:
                return GE_NOTSUP;
        }
    }

    static void onOpen(gensio*, int err, void* user) {
        auto* c = static_cast<Conn*>(user);
        std::lock_guard<std::mutex> lock(c->m);
        c->openResult = err;
        c->changed.notify_all();
    }

    static void onClose(gensio*, void* user) {
        auto* c = static_cast<Conn*>(user);
        std::lock_guard<std::mutex> lock(c->m);
        c->closed = true;
        c->changed.notify_all();
    }
};

namespace {

using Conn = NetworkSerial::Conn;

// Holds a connection open against a concurrent close for the length of one call; gensio is
// never called with the connection's mutex held, since gensio calls back under its own locks.
class Use {
  public:
    explicit Use(std::shared_ptr<Conn> c) : c_(std::move(c)) {
        if (c_) {
            std::lock_guard<std::mutex> lock(c_->m);
            if (c_->closing) {
                c_.reset();
            } else {
                ++c_->users;
            }
        }
    }
    ~Use() {
        if (c_) {
            std::lock_guard<std::mutex> lock(c_->m);
            --c_->users;
            c_->changed.notify_all();
        }
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    explicit operator bool() const { return c_ != nullptr; }
    Conn* operator->() const { return c_.get(); }
    Conn& operator*() const { return *c_; }

  private:
    std::shared_ptr<Conn> c_;
};

void Answer::callback(sergensio*, int err, unsigned value, void* data) {
    auto* a = static_cast<Answer*>(data);
    std::lock_guard<std::mutex> lock(a->conn->m);
    a->answered = true;
    a->err = err;
    a->value = value;
    a->conn->changed.notify_all();
}

using Request = int (*)(sergensio*, unsigned, sergensio_done, void*);

// Sends a request and waits for the server's answer, or for the connection to end; 0 and the
// answered value, or -1 with `why` set.
int ask(Conn& c, Request request, unsigned value, const char* what, unsigned* answered,
        std::string& why) {
    Answer* answer = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.m);
        answer = &c.answers.emplace_back();
        answer->conn = &c;
    }
    std::unique_lock<std::mutex> lock(c.m, std::defer_lock);
    const int err = request(c.sio, value, Answer::callback, answer);
    lock.lock();
    // An answer that never comes (the connection ended first) is left to the connection.
    const auto forget = [&] {
        if (answer->answered) {
            c.answers.remove_if([&](const Answer& a) { return &a == answer; });
        }
    };
    if (err != 0) {
        answer->answered = true;  // no callback comes for a request that was not sent
        forget();
        why = std::string(what) + ": " + gensioText(err);
        return -1;
    }
    if (!c.changed.wait_for(lock, kAnswerWait,
                            [&] { return answer->answered || c.lost || c.closing; })) {
        why = std::string(what) + ": the device server did not answer";
        return -1;
    }
    if (!answer->answered) {
        why = c.lost ? c.lastError : std::string(what) + ": the port is being closed";
        return -1;
    }
    const int answerErr = answer->err;
    const unsigned answerValue = answer->value;
    forget();
    if (answerErr != 0) {
        why = std::string(what) + ": " + gensioText(answerErr);
        return -1;
    }
    if (answered != nullptr) {
        *answered = answerValue;
    }
    return 0;
}

int openCodeFor(int err) {
    switch (err) {
        case GE_CONNREFUSE:
            return NativeSerial::ERR_REFUSED;
        case GE_HOSTDOWN:
        case GE_NAME_NET_NOT_UP:
            return NativeSerial::ERR_UNREACHABLE;
        case GE_TIMEDOUT:
            return NativeSerial::ERR_TIMEOUT;
        case GE_REMCLOSE:
            return NativeSerial::ERR_CLOSED_BY_SERVER;
        case GE_NOTFOUND:
        case GE_UNKNOWN_NAME_ERROR:
        case GE_NAME_ERROR:
        case GE_NAME_SERVER_FAILURE:
        case GE_NAME_INVALID:
            return NativeSerial::ERR_HOST_NOT_FOUND;
        default:
            return NativeSerial::ERR_NOT_VALID;
    }
}

// ENETUNREACH and EHOSTUNREACH come through as an OS error; its text tells which.
int openCodeFor(int err, const std::string& text) {
    if (err == GE_OSERR || err == GE_COMMERR || err == GE_IOERR) {
        if (text.find("nreachable") != std::string::npos) {
            return NativeSerial::ERR_UNREACHABLE;
        }
    }
    return openCodeFor(err);
}

}  // namespace

NetworkSerial::NetworkSerial(int connectTimeoutMs) : connectTimeoutMs_(connectTimeoutMs) {}

NetworkSerial::~NetworkSerial() {
    for (int handle = 0; handle < conns_.limit(); ++handle) {
        SerClosePort(handle);
    }
}

std::shared_ptr<Conn> NetworkSerial::find(int handle) { return conns_.get(handle); }

int NetworkSerial::refuse(int code, const std::string& why) {
    std::lock_guard<std::mutex> lock(openErrorMutex_);
    openError_ = why;
    return code;
}

int NetworkSerial::SerOpenPort(SerialConfig& cfg) {
    const std::string name = cfg.getPortNameString();
    std::string why;
    const auto parsed = NetworkPortName::parse(name, &why);
    if (!parsed) {
        return refuse(ERR_NOT_VALID, name + ": " + why);
    }
    Runtime* runtime = Runtime::get();
    if (runtime == nullptr) {
        return refuse(ERR_NOT_VALID, "the network library could not start");
    }
    // The parser allows only letters, digits, '.', '-', '_' and IPv6 characters in the host,
    // so nothing the user typed can add gensio options or layers.
    const bool ipv6 = parsed->host.find(':') != std::string::npos;
    std::string stack = "tcp," + std::string(ipv6 ? "ipv6," : "") + parsed->host + "," +
                        std::to_string(parsed->port);
    if (parsed->kind == NetworkPortName::Kind::Rfc2217) {
        stack = "telnet(rfc2217=true)," + stack;
    }

    auto conn = std::make_shared<Conn>();
    conn->name = name;
    if (conn->dataFd < 0 || conn->wakeFd < 0 || conn->closeFd < 0) {
        return refuse(ERR_NOT_VALID, std::strerror(errno));
    }
    int err = str_to_gensio(stack.c_str(), runtime->os(), Conn::onEvent, conn.get(), &conn->io);
    if (err != 0) {
        return refuse(openCodeFor(err), name + ": " + gensioText(err));
    }
    err = gensio_open(conn->io, Conn::onOpen, conn.get());
    if (err != 0) {
        gensio_free(conn->io);
        return refuse(openCodeFor(err), name + ": " + gensioText(err));
    }
    {
        std::lock_guard<std::mutex> lock(openingMutex_);
        opening_.emplace_back(&cfg, conn);
    }
    int result = 0;
    bool stopped = false;
    {
        std::unique_lock<std::mutex> lock(conn->m);
        if (!conn->changed.wait_for(lock, std::chrono::milliseconds(connectTimeoutMs_), [&] {
                return conn->openResult >= 0 || conn->openStopped;
            })) {
            result = GE_TIMEDOUT;
        } else {
            stopped = conn->openResult < 0;
            result = stopped ? GE_LOCALCLOSED : conn->openResult;
        }
    }
    {
        std::lock_guard<std::mutex> lock(openingMutex_);
        std::erase_if(opening_, [&](const auto& entry) { return entry.second == conn; });
    }
    if (result != 0) {
        // The connection's memory may go once gensio is done with it: after the close of a
        // connection still opening (an open callback, if one comes, comes before it), or after
        // the open callback of one that failed.
        bool settled = false;
        std::unique_lock<std::mutex> lock(conn->m);
        if (conn->openResult < 0) {
            lock.unlock();
            const bool closing = gensio_close(conn->io, Conn::onClose, conn.get()) == 0;
            lock.lock();
            settled = conn->changed.wait_for(lock, kCloseWait, [&] {
                return closing ? conn->closed : conn->openResult >= 0;
            });
        } else {
            settled = true;
        }
        lock.unlock();
        if (settled) {
            gensio_free(conn->io);
        } else {
            // gensio may still call back into it: the connection is left to the process.
            new std::shared_ptr<Conn>(conn);
        }
        if (stopped) {
            return refuse(ERR_OPEN_STOPPED, name + ": connecting was stopped");
        }
        const std::string text = result == GE_TIMEDOUT
                                     ? "no answer within " + std::to_string(connectTimeoutMs_) +
                                           " ms"
                                     : gensioText(result);
        return refuse(openCodeFor(result, text), name + ": " + text);
    }

    if (parsed->kind == NetworkPortName::Kind::Rfc2217) {
        conn->sio = gensio_to_sergensio(conn->io);
        if (conn->sio != nullptr) {
            // Ask to be told about every modem line and every line error.
            sergensio_modemstate(conn->sio, 0xff);
            sergensio_linestate(conn->sio,
                                SERGENSIO_LINESTATE_OVERRUN_ERR | SERGENSIO_LINESTATE_PARITY_ERR |
                                    SERGENSIO_LINESTATE_FRAMING_ERR | SERGENSIO_LINESTATE_BREAK);
        }
    }
    gensio_set_read_callback_enable(conn->io, true);

    cfg.setPortNum(conns_.add(conn) + 1);
    std::lock_guard<std::mutex> lock(openErrorMutex_);
    openError_.clear();
    return OPEN_OK;
}

int NetworkSerial::SerConfigure(SerialConfig& cfg) {
    Use c(find(cfg.getPort() - 1));
    if (!c) {
        return -1;
    }
    auto fail = [&](const std::string& why) {
        std::lock_guard<std::mutex> lock(c->m);
        c->lastError = why;
        return -1;
    };
    int rate = 0;
    const int br = cfg.getBitRate();
    if (br >= 0 && br < static_cast<int>(SerialConfig::bitRateNumbers.size())) {
        rate = SerialConfig::bitRateNumbers[static_cast<std::size_t>(br)];
    } else if (br > 30) {
        rate = br;
    } else {
        return fail("Invalid bit rate");
    }
    const int dataBits = cfg.getDataBits();
    if (dataBits < SerialConfig::LN_5BITS || dataBits > SerialConfig::LN_8BITS) {
        return fail("Invalid data bits");
    }
    const int parity = cfg.getParity();
    if (parity < SerialConfig::PY_NONE || parity > SerialConfig::PY_SPACE) {
        return fail("Invalid parity");
    }
    const int hs = cfg.getHandshake();
    unsigned flow = SERGENSIO_FLOWCONTROL_NONE;
    if (hs == SerialConfig::HS_DSRDTR) {
        return fail("DSR/DTR flow control is not supported");
    }
    if (hs == SerialConfig::HS_CTSRTS ||
        (hs & (SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT)) != 0) {
        flow = SERGENSIO_FLOWCONTROL_RTS_CTS;
    } else if (hs == SerialConfig::HS_XONXOFF ||
               (hs & (SerialConfig::HS_SOFT_IN | SerialConfig::HS_SOFT_OUT)) != 0) {
        flow = SERGENSIO_FLOWCONTROL_XON_XOFF;
    }
    if (c->sio == nullptr) {
        return 0;  // raw TCP: the line is set up at the other end
    }
    std::string why;
    unsigned answered = 0;
    if (ask(*c, sergensio_baud, static_cast<unsigned>(rate), "Bit rate", &answered, why) != 0) {
        return fail(why);
    }
    if (answered != static_cast<unsigned>(rate)) {
        return fail("Bit rate " + std::to_string(rate) + " not supported by the device server");
    }
    const unsigned size = static_cast<unsigned>(5 + dataBits);
    const unsigned stop = cfg.getStopBits() == SerialConfig::ST_2BITS ? 2u : 1u;
    if (ask(*c, sergensio_datasize, size, "Data bits", nullptr, why) != 0 ||
        ask(*c, sergensio_parity, static_cast<unsigned>(parity) + 1, "Parity", nullptr, why) != 0 ||
        ask(*c, sergensio_stopbits, stop, "Stop bits", nullptr, why) != 0 ||
        ask(*c, sergensio_flowcontrol, flow, "Flow control", nullptr, why) != 0) {
        return fail(why);
    }
    return 0;
}

int NetworkSerial::SerClosePort(int handle) {
    std::shared_ptr<Conn> c = conns_.take(handle);
    if (!c) {
        return -1;
    }
    {
        std::unique_lock<std::mutex> lock(c->m);
        c->closing = true;
        signalFd(c->closeFd);
        c->changed.notify_all();
        c->changed.wait_for(lock, kCloseWait, [&] { return c->users == 0; });
    }
    bool done = false;
    if (gensio_close(c->io, Conn::onClose, c.get()) == 0) {
        std::unique_lock<std::mutex> lock(c->m);
        done = c->changed.wait_for(lock, kCloseWait, [&] { return c->closed; });
    } else {
        done = true;  // already closed by the other side
    }
    if (done) {
        gensio_free(c->io);
    } else {
        // gensio may still call back into it: the connection is left to the process.
        new std::shared_ptr<Conn>(c);
    }
    return 0;
}

int NetworkSerial::SerGetByte(int handle) {
    std::uint8_t b = 0;
    const int n = SerGetData(handle, &b, 1);
    if (n < 0) {
        return READ_FAILED;
    }
    return n == 0 ? NO_DATA : static_cast<int>(b);
}

int NetworkSerial::SerGetData(int handle, std::uint8_t* buf, int count) {
    Use c(find(handle));
    if (!c || buf == nullptr || count < 0) {
        return READ_FAILED;
    }
    bool resume = false;
    int taken = 0;
    {
        std::lock_guard<std::mutex> lock(c->m);
        const std::size_t n = std::min(c->waiting(), static_cast<std::size_t>(count));
        if (n == 0 && c->lost) {
            return READ_FAILED;
        }
        if (n > 0) {
            std::memcpy(buf, c->rx.data() + c->rxPos, n);
        }
        c->rxPos += n;
        taken = static_cast<int>(n);
        if (c->waiting() == 0) {
            c->rx.clear();
            c->rxPos = 0;
            if (!c->lost) {
                drainFd(c->dataFd);
            }
        }
        if (c->readPaused && !c->lost && c->waiting() < kRxLimit / 2) {
            c->readPaused = false;
            resume = true;
        }
    }
    if (resume) {
        gensio_set_read_callback_enable(c->io, true);
    }
    return taken;
}

int NetworkSerial::SerPutByte(int handle, std::uint8_t byte) {
    return SerPutData(handle, &byte, 1) == 1 ? 0 : -1;
}

int NetworkSerial::SerPutData(int handle, const std::uint8_t* buf, int count) {
    Use c(find(handle));
    if (!c || buf == nullptr || count < 0) {
        return -1;
    }
    int timeoutMs = 0;
    {
        std::lock_guard<std::mutex> lock(c->m);
        if (c->lost) {
            return -1;
        }
        timeoutMs = c->timeoutTx;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int done = 0;
    while (done < count) {
        {
            std::lock_guard<std::mutex> lock(c->m);
            c->writeReady = false;
        }
        gensiods sent = 0;
        const int err = gensio_write(c->io, &sent, buf + done,
                                     static_cast<gensiods>(count - done), nullptr);
        if (err != 0) {
            std::lock_guard<std::mutex> lock(c->m);
            c->markLost(err == GE_REMCLOSE ? "Connection closed by the device server"
                                           : "Connection lost: " + gensioText(err));
            return done > 0 ? done : -1;
        }
        done += static_cast<int>(sent);
        if (done == count) {
            break;
        }
        gensio_set_write_callback_enable(c->io, true);
        std::unique_lock<std::mutex> lock(c->m);
        auto ready = [&] { return c->writeReady || c->closing || c->lost; };
        if (timeoutMs > 0) {
            if (!c->changed.wait_until(lock, deadline, ready)) {
                break;
            }
        } else {
            c->changed.wait(lock, ready);
        }
        if (c->closing || c->lost) {
            break;
        }
    }
    return done;
}

int NetworkSerial::SerRxReadyCount(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    if (c->lost && c->waiting() == 0) {
        return -1;
    }
    return static_cast<int>(c->waiting());
}

int NetworkSerial::SerTxBufCount(int handle) { return find(handle) ? 0 : -1; }

int NetworkSerial::SerRxFlush(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    // Only what waits here goes. The server is not asked to purge its own buffer: its purge
    // is not ordered against the data that follows, so it could drop a reading sent just
    // after the flush.
    std::lock_guard<std::mutex> lock(c->m);
    c->rx.clear();
    c->rxPos = 0;
    if (!c->lost) {
        drainFd(c->dataFd);
    }
    return 0;
}

int NetworkSerial::SerTxFlush(int handle) { return find(handle) ? 0 : -1; }

int NetworkSerial::SerTxDrain(int handle) { return find(handle) ? 0 : -1; }

// Modem lines go out without waiting for the answer: some servers (ser2net on a line without
// modem control) never answer them, and a line change must not hold up opening the port.
namespace {

int setModemLine(const std::shared_ptr<Conn>& conn, Request request, unsigned value) {
    Use c(conn);
    if (!c) {
        return -1;
    }
    return c->sio == nullptr || request(c->sio, value, nullptr, nullptr) == 0 ? 0 : -1;
}

}  // namespace

int NetworkSerial::SerSetDTR(int handle, bool level) {
    return setModemLine(find(handle), sergensio_dtr, level ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF);
}

int NetworkSerial::SerSetRTS(int handle, bool level) {
    return setModemLine(find(handle), sergensio_rts, level ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF);
}

namespace {

int modemBit(const std::shared_ptr<Conn>& conn, unsigned bit) {
    Use c(conn);
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    return (c->modemState & bit) != 0 ? 1 : 0;
}

int lineError(const std::shared_ptr<Conn>& conn, unsigned bit) {
    Use c(conn);
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    const bool seen = (c->lineErrors & bit) != 0;
    c->lineErrors &= ~bit;
    return seen ? 1 : 0;
}

}  // namespace

int NetworkSerial::SerSigCTS(int handle) { return modemBit(find(handle), SERGENSIO_MODEMSTATE_CTS); }
int NetworkSerial::SerSigDSR(int handle) { return modemBit(find(handle), SERGENSIO_MODEMSTATE_DSR); }
int NetworkSerial::SerSigCD(int handle) { return modemBit(find(handle), SERGENSIO_MODEMSTATE_CD); }

int NetworkSerial::SerSigRing(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    const bool seen = c->ringSeen || (c->modemState & SERGENSIO_MODEMSTATE_RI) != 0;
    c->ringSeen = false;
    return seen ? 1 : 0;
}

int NetworkSerial::SerSigBreak(int handle) {
    return lineError(find(handle), SERGENSIO_LINESTATE_BREAK);
}
int NetworkSerial::SerSigFrameErr(int handle) {
    return lineError(find(handle), SERGENSIO_LINESTATE_FRAMING_ERR);
}
int NetworkSerial::SerSigOverrun(int handle) {
    return lineError(find(handle), SERGENSIO_LINESTATE_OVERRUN_ERR);
}
int NetworkSerial::SerSigParityErr(int handle) {
    return lineError(find(handle), SERGENSIO_LINESTATE_PARITY_ERR);
}
int NetworkSerial::SerRxOverflow(int handle) { return find(handle) ? 0 : -1; }

int NetworkSerial::SerSendBreak(int handle, int durationMs) {
    Use c(find(handle));
    if (!c || durationMs < 0) {
        return -1;
    }
    if (c->sio == nullptr) {
        return 0;
    }
    if (sergensio_sbreak(c->sio, SERGENSIO_BREAK_ON, nullptr, nullptr) != 0) {
        return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
    return sergensio_sbreak(c->sio, SERGENSIO_BREAK_OFF, nullptr, nullptr) == 0 ? 0 : -1;
}

int NetworkSerial::SerSetTimeoutRx(int handle, int ms) {
    Use c(find(handle));
    if (!c || ms < 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    c->timeoutRx = ms;
    return 0;
}

int NetworkSerial::SerSetTimeoutTx(int handle, int ms) {
    Use c(find(handle));
    if (!c || ms < 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    c->timeoutTx = ms;
    return 0;
}

int NetworkSerial::SerGetTimeoutRx(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    return c->timeoutRx;
}

int NetworkSerial::SerGetTimeoutTx(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    return c->timeoutTx;
}

void NetworkSerial::SerGetPortList(PortListReceiver&) {}
int NetworkSerial::SerResetPortDriver(SerialConfig&) { return 0; }
int NetworkSerial::SerGetLibVer() { return 100; }
std::string NetworkSerial::SerGetName(int) { return ""; }
int NetworkSerial::SerGetInstanceLock() { return 0; }
int NetworkSerial::SerSetInstanceLock(int) { return 0; }
int NetworkSerial::SerGetPowerMode(int) { return -1; }
int NetworkSerial::SerSetPowerMode(int, int) { return -1; }
int NetworkSerial::SerGetResumeState() { return 0; }
int NetworkSerial::SerGetStatusAPM() { return -1; }

std::string NetworkSerial::SerGetPortMfgr(int handle) {
    auto c = find(handle);
    return c ? c->name : "";
}

int NetworkSerial::SerFlowTask(int) { return 0; }

int NetworkSerial::SerServerTask(SerialConfig&, std::string& failure) {
    failure = "no server task for network ports";
    return -1;
}

int NetworkSerial::SerRegisterDeviceNotification(std::function<void()>) { return 0; }
int NetworkSerial::SerUnregisterDeviceNotification() { return 0; }

int NetworkSerial::SerWaitRx(int handle, int ms) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(c->m);
        if (c->waiting() > 0) {
            return WAIT_DATA;
        }
        if (c->lost) {
            return -1;
        }
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int wait = -1;
        if (ms >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd p[3] = {{c->dataFd, POLLIN, 0}, {c->wakeFd, POLLIN, 0}, {c->closeFd, POLLIN, 0}};
        const int r = ::poll(p, 3, wait);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::lock_guard<std::mutex> lock(c->m);
            c->lastError = std::strerror(errno);
            return -1;
        }
        if (r == 0) {
            return WAIT_TIMEOUT;
        }
        if (p[2].revents & POLLIN) {
            return WAIT_WOKEN;
        }
        if (p[1].revents & POLLIN) {
            drainFd(c->wakeFd);
            return WAIT_WOKEN;
        }
        std::lock_guard<std::mutex> lock(c->m);
        if (c->waiting() > 0) {
            return WAIT_DATA;
        }
        if (c->lost) {
            return -1;
        }
        // Signalled for bytes a flush took away meanwhile: wait on.
        drainFd(c->dataFd);
    }
}

int NetworkSerial::SerAbortOpen(const SerialConfig* record) {
    int answer = -1;
    std::lock_guard<std::mutex> lock(openingMutex_);
    for (const auto& [opening, conn] : opening_) {
        if (opening == record) {
            std::lock_guard<std::mutex> connLock(conn->m);
            conn->openStopped = true;
            conn->changed.notify_all();
            answer = 0;
        }
    }
    return answer;
}

int NetworkSerial::SerWakeRx(int handle) {
    Use c(find(handle));
    if (!c) {
        return -1;
    }
    signalFd(c->wakeFd);
    return 0;
}

std::string NetworkSerial::SerLastError(int handle) {
    if (handle < 0) {
        std::lock_guard<std::mutex> lock(openErrorMutex_);
        return openError_;
    }
    auto c = find(handle);
    if (!c) {
        return "";
    }
    std::lock_guard<std::mutex> lock(c->m);
    return c->lastError;
}

}  // namespace serialkit
