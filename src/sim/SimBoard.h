// The simulated ZI1 programmer board: its command protocol on the serial line,
// its line speed, its address pointer, its bootloader and the target chip in
// its socket.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimChip.h"
#include "sim/SimConfig.h"

namespace zelko::sim {

inline constexpr size_t kFirmwareImageSize = 12288;

// The firmware image: "ZI1F", three version characters, a format byte (1),
// the payload length (uint32 little-endian), the CRC-32 of the payload, 16
// reserved bytes, the payload from offset 32, and 0xFF padding. True with the
// version when the image is whole.
bool CheckFirmwareImage(const std::vector<uint8_t>& image, std::string* version);
uint32_t Crc32(const uint8_t* data, size_t n);

// A byte on the line, as the trace records it.
struct TraceEntry {
    double seconds;  // since the board was made
    bool fromHost;
    uint8_t byte;
};

// A reply byte and the line speed it leaves at.
struct ReplyByte {
    uint8_t byte;
    int baud;
};

class SimBoard {
public:
    explicit SimBoard(const SimConfig& config);

    // Bytes from the host that travelled at `hostBaud` (0: trust the line
    // speed). Bytes sent at another speed than the board's arrive garbled, and
    // so do its replies. Returns the reply bytes. Thread-safe.
    std::vector<ReplyByte> Exchange(const uint8_t* data, size_t n, int hostBaud);

    // Switching the power off and on: the board starts in its bootloader, at
    // 19200 bit/s; the chip keeps its memories.
    void PowerCycle();

    // State, for tests, dumps and demonstrations. Call while no exchange runs,
    // or lock Mutex().
    std::mutex& Mutex() { return mutex_; }
    SimChip& Chip() { return chip_; }
    const SimConfig& Config() const { return config_; }
    int LineBaud() const { return baud_; }
    uint32_t Pointer() const { return pointer_; }
    bool InBootloader() const { return mode_ != Mode::Firmware; }
    bool HasFirmware() const { return hasFirmware_; }
    const std::string& FirmwareVersion() const { return version_; }
    uint8_t DeviceCode() const { return deviceCode_; }
    uint8_t DelayCode() const { return delayCode_; }
    std::array<uint8_t, 3> ModePacket() const { return {speedIndex_, spiCode_, polling_}; }
    // How often each command byte was received (in command position).
    int CommandCount(uint8_t command) const;
    // Every byte on the line, up to the first 4M (ClearTrace starts again).
    const std::vector<TraceEntry>& Trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); }
    void SetTraceEnabled(bool on) { traceEnabled_ = on; }
    // The last firmware image uploaded (as received, even if incomplete).
    const std::vector<uint8_t>& UploadedImage() const { return upload_; }

private:
    enum class Mode { Firmware, Bootloader, Uploading };

    void Feed(uint8_t b, std::vector<uint8_t>& reply);
    void Execute(std::vector<uint8_t>& reply);
    void ApplyFaults(uint8_t command, int occurrence, std::vector<uint8_t>& reply);
    void WriteBlock(bool flash);
    void ReadBlock(bool flash, uint8_t n, std::vector<uint8_t>& reply);
    uint8_t Spi(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    size_t ParameterCount(uint8_t command) const;
    void Record(bool fromHost, uint8_t b);

    std::mutex mutex_;
    SimConfig config_;
    SimChip chip_;
    std::chrono::steady_clock::time_point start_;
    Mode mode_;
    bool hasFirmware_;
    std::string version_;
    int baud_ = 19200;
    int pendingBaud_ = 0;
    uint32_t pointer_ = 0;
    uint8_t deviceCode_ = 0;
    uint8_t delayCode_ = 0;
    uint8_t speedIndex_ = 0;
    uint8_t spiCode_ = 0;
    uint8_t polling_ = 0;
    bool garbageSent_ = false;
    int blockWrites_ = 0;

    // the command being received
    bool inCommand_ = false;
    uint8_t command_ = 0;
    std::vector<uint8_t> params_;
    std::vector<uint8_t> upload_;

    std::map<uint8_t, int> counts_;
    std::vector<TraceEntry> trace_;
    bool traceEnabled_ = true;
};

}  // namespace zelko::sim
