#include "core/link/PortMap.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/app/SettingsStore.h"
#include "core/link/PosixSerialTransport.h"

namespace zelko {
namespace {

std::mutex mapMutex;
std::map<int, std::string> overrides;

SimTransportFactory& SimFactorySlot()
{
    static SimTransportFactory factory;
    return factory;
}

// Stands for a port that cannot be made, so that its open fails with the reason.
class UnavailableTransport : public Transport {
public:
    explicit UnavailableTransport(std::string reason) : reason_(std::move(reason)) {}
    bool Open(int, std::string& error) override
    {
        error = reason_;
        return false;
    }
    void Close() override {}
    void Drain() override {}
    long Write(const uint8_t*, size_t, int) override { return -1; }
    long Read(uint8_t*, size_t, int) override { return -1; }

private:
    std::string reason_;
};

bool IsSimSpec(const std::string& device)
{
    return device == "sim" || device.rfind("sim:", 0) == 0;
}

// "ttyUSB10" sorts after "ttyUSB9".
bool ByNumber(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        const long n = i < s.size() ? std::stol(s.substr(i)) : -1;
        return std::make_pair(s.substr(0, i), n);
    };
    return split(a) < split(b);
}

}  // namespace

void RegisterSimTransportFactory(SimTransportFactory factory)
{
    std::lock_guard lock(mapMutex);
    SimFactorySlot() = std::move(factory);
}

const SimTransportFactory& SimFactory()
{
    std::lock_guard lock(mapMutex);
    return SimFactorySlot();
}

void SetPortOverride(int portNumber, const std::string& device)
{
    std::lock_guard lock(mapMutex);
    if (device.empty())
        overrides.erase(portNumber);
    else
        overrides[portNumber] = device;
}

std::vector<std::string> DefaultSerialDevices()
{
    std::vector<std::string> result;
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        std::vector<std::string> group;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = entry.path().filename().string();
            const std::string p = prefix;
            if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
                std::all_of(name.begin() + p.size(), name.end(),
                            [](char c) { return c >= '0' && c <= '9'; }))
                group.push_back(name);
        }
        std::sort(group.begin(), group.end(), ByNumber);
        for (const std::string& name : group)
            result.push_back("/dev/" + name);
    }
    return result;
}

std::string PortDevice(int portNumber)
{
    {
        std::lock_guard lock(mapMutex);
        if (auto it = overrides.find(portNumber); it != overrides.end())
            return it->second;
    }
    if (portNumber < 1)
        return {};
    const std::string key = "COM" + std::to_string(portNumber);
    std::string device = SettingsStore().ReadString("Ports", key, "");
    if (!device.empty())
        return device;
    const std::vector<std::string> present = DefaultSerialDevices();
    if (static_cast<size_t>(portNumber) <= present.size())
        return present[static_cast<size_t>(portNumber) - 1];
    return {};
}

std::unique_ptr<Transport> MakePortTransport(const std::string& device, int selectedDevice,
                                             std::string& error)
{
    if (IsSimSpec(device)) {
        SimTransportFactory factory;
        {
            std::lock_guard lock(mapMutex);
            factory = SimFactorySlot();
        }
        std::unique_ptr<Transport> t;
        if (factory)
            t = factory(device, selectedDevice);
        if (!t)
            error = Translate(2028);
        return t;
    }
    return std::make_unique<PosixSerialTransport>(device);
}

void Controller::InstallPortMap()
{
    serialPort.SetTransportFactory([this](int portNumber, std::string& deviceName) {
        const std::string device = PortDevice(portNumber);
        if (device.empty())
            return std::unique_ptr<Transport>();
        deviceName = device;
        std::string error;
        std::unique_ptr<Transport> t = MakePortTransport(device, CurrentDeviceIndex(), error);
        if (!t)
            t = std::make_unique<UnavailableTransport>(error);
        return t;
    });
}

}  // namespace zelko
