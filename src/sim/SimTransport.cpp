#include "sim/SimTransport.h"

#include <map>
#include <mutex>
#include <thread>

#include "core/link/PortMap.h"

namespace zelko::sim {
namespace {

std::mutex registryMutex;
std::map<std::string, std::shared_ptr<SimBoard>>& Registry()
{
    static std::map<std::string, std::shared_ptr<SimBoard>> boards;
    return boards;
}

std::string RegistryKey(const std::string& portName, int selectedDevice)
{
    // a plain "sim" is a chip of whatever device the program has selected
    return portName == "sim" ? "sim@" + std::to_string(selectedDevice) : portName;
}

}  // namespace

SimTransport::SimTransport(std::shared_ptr<SimBoard> board) : board_(std::move(board)) {}

std::unique_ptr<SimTransport> SimTransport::Failing(std::string reason)
{
    auto t = std::make_unique<SimTransport>(nullptr);
    t->failure_ = std::move(reason);
    return t;
}

bool SimTransport::Open(int baud, std::string& error)
{
    if (!board_) {
        error = failure_.empty() ? "no simulated board" : failure_;
        return false;
    }
    open_ = true;
    baud_ = baud;
    pending_.clear();  // what arrived while the port was closed is lost
    return true;
}

void SimTransport::Close()
{
    open_ = false;
    pending_.clear();
}

long SimTransport::Write(const uint8_t* data, size_t n, int)
{
    if (!open_)
        return -1;
    const std::vector<ReplyByte> replies = board_->Exchange(data, n, baud_);
    const int slowMs = board_->Config().slowMs;
    const Clock::time_point now = Clock::now();
    for (const ReplyByte& r : replies) {
        Clock::time_point ready = now;
        if (slowMs > 0) {
            ready = std::max(now, lastReady_) + std::chrono::milliseconds(slowMs);
            lastReady_ = ready;
        }
        pending_.push_back({r.byte, ready});
    }
    return static_cast<long>(n);
}

long SimTransport::Read(uint8_t* data, size_t n, int timeoutMs)
{
    if (!open_)
        return -1;
    if (pending_.empty() || n == 0)
        return 0;
    Clock::time_point now = Clock::now();
    const Clock::time_point first = pending_.front().ready;
    if (first > now) {
        const auto deadline = now + std::chrono::milliseconds(std::max(timeoutMs, 0));
        if (first > deadline) {
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        std::this_thread::sleep_until(first);
        now = Clock::now();
    }
    size_t got = 0;
    while (got < n && !pending_.empty() && pending_.front().ready <= now) {
        data[got++] = pending_.front().byte;
        pending_.pop_front();
    }
    return static_cast<long>(got);
}

std::shared_ptr<SimBoard> SimBoardFor(const std::string& portName, int selectedDevice,
                                      std::string& error)
{
    const std::string key = RegistryKey(portName, selectedDevice);
    std::lock_guard lock(registryMutex);
    auto& boards = Registry();
    if (auto it = boards.find(key); it != boards.end())
        return it->second;
    SimConfig config;
    if (!ParseSimPortName(portName, selectedDevice, config, error))
        return nullptr;
    auto board = std::make_shared<SimBoard>(config);
    boards[key] = board;
    return board;
}

std::shared_ptr<SimBoard> FindSimBoard(const std::string& portName, int selectedDevice)
{
    std::lock_guard lock(registryMutex);
    const auto& boards = Registry();
    const auto it = boards.find(RegistryKey(portName, selectedDevice));
    return it == boards.end() ? nullptr : it->second;
}

void ResetSimBoards()
{
    std::lock_guard lock(registryMutex);
    Registry().clear();
}

std::unique_ptr<Transport> MakeSimTransport(const std::string& portName, int selectedDevice)
{
    std::string error;
    std::shared_ptr<SimBoard> board = SimBoardFor(portName, selectedDevice, error);
    if (!board)
        return SimTransport::Failing("simulator: " + error);
    return std::make_unique<SimTransport>(std::move(board));
}

void RegisterBuiltInSimulator()
{
    RegisterSimTransportFactory([](const std::string& portName, int selectedDevice) {
        // The program may run for hours against one board: a board it makes
        // keeps no trace, which would only grow.
        if (!FindSimBoard(portName, selectedDevice)) {
            std::string error;
            if (std::shared_ptr<SimBoard> board = SimBoardFor(portName, selectedDevice, error)) {
                std::lock_guard lock(board->Mutex());
                board->SetTraceEnabled(false);
            }
        }
        return MakeSimTransport(portName, selectedDevice);
    });
}

}  // namespace zelko::sim
