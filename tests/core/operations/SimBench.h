// A controller wired to a simulated board in this process, with the protocol's
// pauses recorded instead of kept.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/app/Controller.h"
#include "core/devices/DeviceTable.h"
#include "core/link/Clock.h"
#include "sim/SimBoard.h"
#include "sim/SimTransport.h"
#include "support/TestSupport.h"

namespace zelko::test {

template <class Ui = RecordingUi>
class SimBench {
public:
    explicit SimBench(const std::string& options = "")
    {
        sim::SimConfig config;
        std::string error;
        EXPECT_TRUE(sim::ApplySimOptions(config, options, error)) << error;
        Init(config);
    }
    explicit SimBench(const sim::SimConfig& config) { Init(config); }
    ~SimBench() { SetSleeper(nullptr); }

    // Bytes the program sent, in order.
    std::vector<uint8_t> HostBytes() const
    {
        std::vector<uint8_t> out;
        std::lock_guard lock(board->Mutex());
        for (const auto& t : board->Trace())
            if (t.fromHost)
                out.push_back(t.byte);
        return out;
    }
    std::vector<int> Sleeps()
    {
        std::lock_guard lock(*sleepMutex);
        return *sleeps;
    }

    Ui ui;
    Controller c{ui};
    std::shared_ptr<sim::SimBoard> board;
    std::shared_ptr<std::mutex> sleepMutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<int>> sleeps = std::make_shared<std::vector<int>>();

private:
    void Init(const sim::SimConfig& config)
    {
        board = std::make_shared<sim::SimBoard>(config);
        auto b = board;
        c.serialPort.SetTransportFactory([b](int, std::string& name) {
            name = "sim";
            return std::make_unique<sim::SimTransport>(b);
        });
        c.comPort = 1;
        c.projectSettings.DeviceIndex = FindByName(config.device);
        EXPECT_GE(c.projectSettings.DeviceIndex, 0) << config.device;
        auto m = sleepMutex;
        auto s = sleeps;
        SetSleeper([m, s](int ms) {
            std::lock_guard lock(*m);
            s->push_back(ms);
        });
    }
};

inline bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace zelko::test
