// Transfer speed over a paced line: Program Flash + Verify Flash of a full
// image through zi1sim --pace (every byte takes its 10 bit times), compared
// with the least time the protocol allows: the bytes on the wire at their line
// speed plus every pause the program must keep. Prints figures; no pass/fail.
//
// usage: bench_link [ZI1SIM]   (default: the zi1sim built beside this program)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/app/Controller.h"
#include "core/devices/DeviceTable.h"
#include "core/link/Clock.h"
#include "core/link/PortMap.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct SilentUi : zelko::UserInterface {
    void ShowStatusLine(const std::string&) override {}
    void ShowBox(const std::string& text, const std::string&, zelko::BoxIcon) override
    {
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const std::string&, zelko::BoxIcon, bool) override { return false; }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// Counts the bit times of every byte that crosses the line, at the speed the
// port was opened with.
struct LineCount {
    double bitSeconds = 0;
    long bytes = 0;
    long writes = 0;
};

class CountingTransport : public zelko::Transport {
public:
    CountingTransport(std::unique_ptr<zelko::Transport> inner, LineCount& count)
        : inner_(std::move(inner)), count_(count)
    {
    }
    bool Open(int baud, std::string& error) override
    {
        baud_ = baud;
        return inner_->Open(baud, error);
    }
    void Close() override { inner_->Close(); }
    void Drain() override { inner_->Drain(); }
    long Write(const uint8_t* data, size_t n, int timeoutMs) override
    {
        const long r = inner_->Write(data, n, timeoutMs);
        Add(r);
        ++count_.writes;
        return r;
    }
    long Read(uint8_t* data, size_t n, int timeoutMs) override
    {
        const long r = inner_->Read(data, n, timeoutMs);
        Add(r);
        return r;
    }

private:
    void Add(long n)
    {
        if (n > 0) {
            count_.bytes += n;
            count_.bitSeconds += n * 10.0 / baud_;
        }
    }
    std::unique_ptr<zelko::Transport> inner_;
    LineCount& count_;
    int baud_ = 19200;
};

class Simulator {
public:
    Simulator(const std::string& bin, const char* device)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string dev = device;
        char* argv[] = {const_cast<char*>(bin.c_str()), const_cast<char*>("--device"), dev.data(),
                        const_cast<char*>("--pace"), nullptr};
        if (posix_spawn(&pid_, bin.c_str(), &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            path += c;
        close(fds[0]);
    }
    ~Simulator()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string path;

private:
    pid_t pid_ = -1;
};

void Run(const std::string& simBin, const char* device, int speedIndex)
{
    Simulator sim(simBin, device);
    if (sim.path.empty()) {
        std::fprintf(stderr, "bench_link: cannot start %s\n", simBin.c_str());
        return;
    }
    SilentUi ui;
    zelko::Controller c(ui);
    c.projectSettings.DeviceIndex = zelko::FindByName(device);
    c.comPort = 1;
    c.baudIndex = speedIndex;
    c.boardDelays = {0, 0, 0, 0};
    LineCount line;
    const std::string path = sim.path;
    c.serialPort.SetTransportFactory([&line, path](int, std::string& name) {
        name = path;
        std::string error;
        auto inner = zelko::MakePortTransport(path, 0, error);
        return inner ? std::make_unique<CountingTransport>(std::move(inner), line) : nullptr;
    });

    // A full image with no erased page, so that every page is written.
    const zelko::DeviceRecord& d = c.SelectedDevice();
    std::vector<uint8_t> image(static_cast<size_t>(d.flashSize));
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 16);
        if (b == 0xFF)
            b = 0x7F;
    }
    c.flashBuffer.SetContents(image, zelko::Loaded);

    std::atomic<long> pausedMs{0};
    zelko::SetSleeper([&pausedMs](int ms) {
        pausedMs += ms;
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    const auto start = Clock::now();
    c.OnProgramFlash();
    const bool programmed = c.LastCommandResult == 0;
    c.OnVerifyFlash();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    zelko::SetSleeper(nullptr);

    const double least = line.bitSeconds + pausedMs / 1000.0;
    std::printf("%-16s speed %d (%6d bit/s): %s, %7.2f s; least %7.2f s (%ld bytes on the line, "
                "%.2f s of pauses); ratio %.3f; %ld writes, %.3f ms above the least per write\n",
                device, speedIndex, zelko::SerialPort::BaudForIndex(speedIndex),
                programmed && c.FlashVerifyPassed ? "program+verify OK" : "FAILED",
                seconds, least, line.bytes, pausedMs / 1000.0, seconds / least, line.writes,
                (seconds - least) * 1000.0 / static_cast<double>(line.writes));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string simBin = argc > 1 ? argv[1] : "";
    if (simBin.empty()) {
        std::error_code ec;
        const fs::path self = fs::read_symlink("/proc/self/exe", ec);
        simBin = (self.parent_path() / ".." / "src" / "sim" / "zi1sim").string();
    }
    Run(simBin, "ATmega328/328P", 0);
    Run(simBin, "ATmega328/328P", 1);
    Run(simBin, "ATmega328/328P", 4);
    Run(simBin, "ATmega2560/2561", 4);
    return 0;
}
