// zi1sim: the simulated ZI1 board with its target chip, served on a
// pseudo-terminal so that any program (ZELKO, a terminal, a test) can open it
// like a serial port.
#include <fcntl.h>
#include <sys/prctl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimBoard.h"
#include "sim/SimConfig.h"

using namespace zelko::sim;
using Clock = std::chrono::steady_clock;

namespace {

volatile sig_atomic_t quitRequested = 0;
volatile sig_atomic_t dumpRequested = 0;
volatile sig_atomic_t powerCycleRequested = 0;

void OnSignal(int sig)
{
    if (sig == SIGUSR1)
        dumpRequested = 1;
    else if (sig == SIGUSR2)
        powerCycleRequested = 1;
    else
        quitRequested = 1;
}

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: zi1sim --device NAME [options]\n"
                 "Serves a simulated ZI1 programmer board with a target chip on a\n"
                 "pseudo-terminal. The first line printed is the terminal's path; open it\n"
                 "at 19200 bit/s. Runs until SIGTERM or SIGINT. SIGUSR1 writes the dump,\n"
                 "SIGUSR2 switches the board off and on (it then starts in its bootloader).\n"
                 "\n"
                 "  --device NAME      target chip, a device name of the table\n"
                 "  --pace             every byte takes its time on the line (10 bits at the\n"
                 "                     board's line speed), in both directions\n"
                 "  --trace FILE       write every byte with a timestamp and its direction:\n"
                 "                     seconds since start, -> (to the board) or <- (from\n"
                 "                     it), the byte in hex and as a character\n"
                 "  --dump FILE        write the chip's memories on SIGUSR1 and at exit\n"
                 "  --options LIST     comma-separated key=value options, as in sim:NAME,...\n"
                 "  --KEY VALUE, --KEY=VALUE  any option below\n"
                 "  --help             this text\n"
                 "\n"
                 "Options:\n%s",
                 SimOptionsHelp());
}

struct Timed {
    uint8_t byte;
    Clock::time_point at;
};

class Server {
public:
    Server(SimBoard& board, bool pace, FILE* trace, std::string dumpPath)
        : board_(board), pace_(pace), trace_(trace), dumpPath_(std::move(dumpPath)),
          start_(Clock::now())
    {
    }

    bool OpenTerminal(std::string& path);
    int Run();
    void Dump();

private:
    Clock::duration ByteTime(int baud) const
    {
        return std::chrono::microseconds(10'000'000LL / std::max(baud, 1));
    }
    void Trace(const char* direction, uint8_t b);
    void Receive();
    void Process(Clock::time_point now);
    void Transmit(Clock::time_point now);

    SimBoard& board_;
    bool pace_;
    FILE* trace_;
    std::string dumpPath_;
    Clock::time_point start_;
    int master_ = -1;
    std::deque<Timed> in_;
    std::deque<Timed> out_;
    Clock::time_point lastArrival_{};
    Clock::time_point lastDeparture_{};
};

bool Server::OpenTerminal(std::string& path)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        std::fprintf(stderr, "zi1sim: cannot make a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
        std::fprintf(stderr, "zi1sim: no name for the pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    path = name;
    termios tio{};
    if (tcgetattr(master_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(master_, TCSANOW, &tio);
    }
    // Raw on the terminal side too, so that nothing is echoed back to the
    // board before the host has set its own line settings.
    const int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B19200);
            cfsetospeed(&tio, B19200);
            tcsetattr(slave, TCSANOW, &tio);
        }
        close(slave);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void Server::Trace(const char* direction, uint8_t b)
{
    if (!trace_)
        return;
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    std::fprintf(trace_, "%.6f %s %02X %c\n", t, direction, b,
                 b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
}

void Server::Receive()
{
    uint8_t buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0)
        return;
    const Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
        Clock::time_point at = now;
        if (pace_) {
            // the board's own idea of the line speed decides when a byte is in
            at = std::max(now, lastArrival_) + ByteTime(board_.LineBaud());
            lastArrival_ = at;
        }
        in_.push_back({buf[i], at});
    }
}

void Server::Process(Clock::time_point now)
{
    const int slowMs = board_.Config().slowMs;
    while (!in_.empty() && in_.front().at <= now) {
        const uint8_t b = in_.front().byte;
        // Replies are timed from the moment the byte was complete on the line,
        // not from when this loop woke up, so wake-up latency never adds up.
        const Clock::time_point arrived = in_.front().at;
        in_.pop_front();
        Trace("->", b);
        for (const ReplyByte& r : board_.Exchange(&b, 1, 0)) {
            Clock::time_point at = now;
            if (pace_ || slowMs > 0) {
                at = std::max(arrived, lastDeparture_) + std::chrono::milliseconds(slowMs);
                if (pace_)
                    at += ByteTime(r.baud);
                lastDeparture_ = at;
            }
            out_.push_back({r.byte, at});
        }
    }
}

void Server::Transmit(Clock::time_point now)
{
    std::vector<uint8_t> ready;
    while (!out_.empty() && out_.front().at <= now) {
        ready.push_back(out_.front().byte);
        out_.pop_front();
    }
    if (ready.empty())
        return;
    size_t done = 0;
    while (done < ready.size()) {
        const ssize_t n = write(master_, ready.data() + done, ready.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;  // nobody listening, or the terminal is full: the bytes are lost
        }
        done += static_cast<size_t>(n);
    }
    for (size_t i = 0; i < done; ++i)
        Trace("<-", ready[i]);
}

void Server::Dump()
{
    if (dumpPath_.empty())
        return;
    std::lock_guard lock(board_.Mutex());
    const std::string tmp = dumpPath_ + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "zi1sim: cannot write %s: %s\n", tmp.c_str(), std::strerror(errno));
        return;
    }
    SimChip& chip = board_.Chip();
    const auto& sig = chip.Signature();
    std::fprintf(f, "# zi1sim dump\ndevice %s\nsignature %02X %02X %02X%s\n", chip.Device().name,
                 sig[0], sig[1], sig[2], chip.Locked() ? " (locked: answers 00 01 02)" : "");
    std::fprintf(f, "lock %02X\nfuses low %02X high %02X extended %02X\n", chip.LockByte(),
                 chip.FuseByteValue(zelko::FuseByte::Low),
                 chip.FuseByteValue(zelko::FuseByte::High),
                 chip.FuseByteValue(zelko::FuseByte::Extended));
    std::fprintf(f, "board %s %s, line %d bit/s\n",
                 board_.InBootloader() ? "bootloader" : "firmware",
                 board_.HasFirmware() ? board_.FirmwareVersion().c_str() : "(none)",
                 board_.LineBaud());
    auto memory = [&](const char* title, const std::vector<uint8_t>& m) {
        std::fprintf(f, "[%s] %zu bytes; lines of FF left out\n", title, m.size());
        for (size_t at = 0; at < m.size(); at += 16) {
            const size_t end = std::min(m.size(), at + 16);
            if (std::all_of(m.begin() + static_cast<long>(at), m.begin() + static_cast<long>(end),
                            [](uint8_t b) { return b == 0xFF; }))
                continue;
            std::fprintf(f, "%06zX:", at);
            for (size_t i = at; i < end; ++i)
                std::fprintf(f, " %02X", m[i]);
            std::fputc('\n', f);
        }
    };
    memory("flash", chip.Flash());
    memory("eeprom", chip.Eeprom());
    const bool ok = std::fflush(f) == 0 && !std::ferror(f);
    std::fclose(f);
    // a reader never sees half a dump
    if (!ok || std::rename(tmp.c_str(), dumpPath_.c_str()) != 0) {
        std::fprintf(stderr, "zi1sim: cannot write %s\n", dumpPath_.c_str());
        std::remove(tmp.c_str());
    }
}

int Server::Run()
{
    while (!quitRequested) {
        if (dumpRequested) {
            dumpRequested = 0;
            Dump();
        }
        if (powerCycleRequested) {
            powerCycleRequested = 0;
            board_.PowerCycle();
            in_.clear();
            out_.clear();
        }
        Clock::time_point now = Clock::now();
        Process(now);
        Transmit(now);

        // sleep until the next byte is due, or for a while
        Clock::duration wait = std::chrono::milliseconds(200);
        if (!in_.empty())
            wait = std::min(wait, in_.front().at - now);
        if (!out_.empty())
            wait = std::min(wait, out_.front().at - now);
        wait = std::max(wait, Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd pfd{master_, POLLIN, 0};
        const int r = ppoll(&pfd, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "zi1sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (r == 0)
            continue;
        if (pfd.revents & POLLIN) {
            Receive();
        } else if (pfd.revents & (POLLHUP | POLLERR)) {
            // No one has the terminal open: what was on its way is lost. The
            // master reports the hang-up until the next open, so wait instead
            // of polling again at once.
            out_.clear();
            const timespec pause{0, 20'000'000};
            nanosleep(&pause, nullptr);
        }
        if (trace_)
            std::fflush(trace_);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Paced bytes are microseconds apart; the default 50 us timer slack would
    // make every wake-up late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    SimConfig config;
    bool pace = false;
    bool deviceGiven = false;
    std::string tracePath;
    std::string dumpPath;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg.rfind("--", 0) != 0) {
            std::fprintf(stderr, "zi1sim: unexpected argument '%s' (see --help)\n", arg.c_str());
            return 2;
        }
        std::string key = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const size_t eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
            hasValue = true;
        }
        auto next = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                value = argv[++i];
                return true;
            }
            return false;
        };
        if (key == "pace") {
            pace = true;
        } else if (key == "trace" || key == "dump" || key == "options") {
            if (!next()) {
                std::fprintf(stderr, "zi1sim: --%s needs a value\n", key.c_str());
                return 2;
            }
            if (key == "trace")
                tracePath = value;
            else if (key == "dump")
                dumpPath = value;
            else if (!ApplySimOptions(config, value, error)) {
                std::fprintf(stderr, "zi1sim: %s\n", error.c_str());
                return 2;
            }
        } else {
            next();  // flags such as --locked may stand alone
            if (!ApplySimOption(config, key, value, error)) {
                std::fprintf(stderr, "zi1sim: %s (see --help)\n", error.c_str());
                return 2;
            }
            deviceGiven = deviceGiven || key == "device";
        }
    }
    if (!deviceGiven) {
        std::fprintf(stderr, "zi1sim: --device NAME is required (see --help)\n");
        return 2;
    }

    FILE* trace = nullptr;
    if (!tracePath.empty()) {
        trace = std::fopen(tracePath.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "zi1sim: cannot write %s: %s\n", tracePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    auto board = std::make_unique<SimBoard>(config);
    board->SetTraceEnabled(false);  // the trace file is written here, at line time
    Server server(*board, pace, trace, dumpPath);
    std::string path;
    if (!server.OpenTerminal(path))
        return 1;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    const int rc = server.Run();
    server.Dump();
    if (trace)
        std::fclose(trace);
    return rc;
}
