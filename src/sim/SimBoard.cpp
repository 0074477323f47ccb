#include "sim/SimBoard.h"

#include <cstring>

namespace zelko::sim {
namespace {

constexpr uint8_t kAck = 0x0D;
constexpr uint8_t kEsc = 0x1B;
constexpr size_t kVariable = 1000;  // '{' and '>': the first parameter counts the rest
constexpr size_t kUnknown = 2000;
// A trace stops growing at 4M bytes (64 MB), several whole 256 KiB chips.
constexpr size_t kTraceLimit = size_t{1} << 22;

// A byte sent at one speed and sampled at another arrives as something else.
// Such bytes have the high bit set, so a garbled line never forms a command.
uint8_t Garble(uint8_t b) { return static_cast<uint8_t>(0x80 | ((b * 37 + 0x5B) & 0x7F)); }

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool CheckFirmwareImage(const std::vector<uint8_t>& image, std::string* version)
{
    if (image.size() != kFirmwareImageSize || std::memcmp(image.data(), "ZI1F", 4) != 0 ||
        image[7] != 1)
        return false;
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(image[at]) | (static_cast<uint32_t>(image[at + 1]) << 8) |
               (static_cast<uint32_t>(image[at + 2]) << 16) |
               (static_cast<uint32_t>(image[at + 3]) << 24);
    };
    const uint32_t length = u32(8);
    if (length > kFirmwareImageSize - 32 || Crc32(image.data() + 32, length) != u32(12))
        return false;
    if (version)
        version->assign(reinterpret_cast<const char*>(image.data() + 4), 3);
    return true;
}

SimBoard::SimBoard(const SimConfig& config)
    : config_(config),
      chip_(config),
      start_(std::chrono::steady_clock::now()),
      mode_(config.firmware && !config.bootloader ? Mode::Firmware : Mode::Bootloader),
      hasFirmware_(config.firmware),
      version_(config.version)
{
}

int SimBoard::CommandCount(uint8_t command) const
{
    const auto it = counts_.find(command);
    return it == counts_.end() ? 0 : it->second;
}

void SimBoard::PowerCycle()
{
    std::lock_guard lock(mutex_);
    mode_ = Mode::Bootloader;
    baud_ = 19200;
    pendingBaud_ = 0;
    inCommand_ = false;
    pointer_ = 0;
    chip_.EndProgramming();
}

void SimBoard::Record(bool fromHost, uint8_t b)
{
    if (traceEnabled_ && trace_.size() < kTraceLimit)
        trace_.push_back({std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
                              .count(),
                          fromHost, b});
}

std::vector<ReplyByte> SimBoard::Exchange(const uint8_t* data, size_t n, int hostBaud)
{
    std::lock_guard lock(mutex_);
    std::vector<ReplyByte> out;
    std::vector<uint8_t> reply;
    for (size_t i = 0; i < n; ++i) {
        const int lineBaud = baud_;
        const bool garbled = hostBaud != 0 && hostBaud != lineBaud;
        const uint8_t b = garbled ? Garble(data[i]) : data[i];
        Record(true, b);
        reply.clear();
        Feed(b, reply);
        for (uint8_t r : reply) {
            Record(false, r);
            out.push_back({garbled ? Garble(r) : r, lineBaud});
        }
        // the mode packet is acknowledged at the old speed, then the line changes
        if (pendingBaud_ != 0) {
            baud_ = pendingBaud_;
            pendingBaud_ = 0;
        }
    }
    return out;
}

size_t SimBoard::ParameterCount(uint8_t c) const
{
    if (mode_ != Mode::Firmware) {
        switch (c) {
        case '%': case '@': case '?': case 'N': case '^': case '-': case kEsc: return 0;
        case '#': return 3;
        default: return kUnknown;
        }
    }
    switch (c) {
    case '%': case '@': case 'Q': case 'L': case 'U': case '+': case '-': case kEsc:
    case '?': case 'N':
        return 0;
    case '&': case 'W': case '}': case '<': return 1;
    case ':': return 2;
    case '#': case '5': return 3;
    case '4': case '3': return 4;
    case '{': case '>': return kVariable;
    default: return kUnknown;
    }
}

void SimBoard::Feed(uint8_t b, std::vector<uint8_t>& reply)
{
    if (mode_ == Mode::Uploading) {
        upload_.push_back(b);
        if (upload_.size() % 4 == 0)
            reply.push_back(kAck);
        if (upload_.size() == kFirmwareImageSize) {
            std::string version;
            hasFirmware_ = CheckFirmwareImage(upload_, &version);
            if (hasFirmware_) {
                version_ = version;
                mode_ = Mode::Firmware;
            } else {
                mode_ = Mode::Bootloader;
            }
        }
        return;
    }
    if (!inCommand_) {
        command_ = b;
        ++counts_[b];
        const size_t count = ParameterCount(b);
        if (count == kUnknown)
            return;  // not a command: ignored
        params_.clear();
        if (count == 0) {
            Execute(reply);
            return;
        }
        inCommand_ = true;
        return;
    }
    params_.push_back(b);
    size_t needed = ParameterCount(command_);
    if (needed == kVariable)
        needed = 1 + size_t{params_[0]};
    if (params_.size() >= needed) {
        inCommand_ = false;
        Execute(reply);
    }
}

uint8_t SimBoard::Spi(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return chip_.Transfer({b0, b1, b2, b3})[3];
}

void SimBoard::WriteBlock(bool flash)
{
    const bool at89 = deviceCode_ == 1 || deviceCode_ == 12;
    for (size_t i = 1; i < params_.size(); ++i, ++pointer_) {
        const uint8_t d = params_[i];
        if (!flash) {
            Spi(0xC0, static_cast<uint8_t>(pointer_ >> 8), static_cast<uint8_t>(pointer_), d);
        } else if (at89) {
            Spi(0x40, static_cast<uint8_t>(pointer_ >> 8), static_cast<uint8_t>(pointer_), d);
        } else {
            // low byte of the word at even addresses, high byte at odd ones
            const uint32_t word = pointer_ >> 1;
            Spi((pointer_ & 1) ? 0x48 : 0x40, static_cast<uint8_t>(word >> 8),
                static_cast<uint8_t>(word), d);
        }
    }
}

void SimBoard::ReadBlock(bool flash, uint8_t n, std::vector<uint8_t>& reply)
{
    const bool at89 = deviceCode_ == 1 || deviceCode_ == 12;
    for (int i = 0; i < n; ++i, ++pointer_) {
        if (!flash) {
            reply.push_back(
                Spi(0xA0, static_cast<uint8_t>(pointer_ >> 8), static_cast<uint8_t>(pointer_), 0));
        } else if (at89) {
            reply.push_back(
                Spi(0x20, static_cast<uint8_t>(pointer_ >> 8), static_cast<uint8_t>(pointer_), 0));
        } else {
            const uint32_t word = pointer_ >> 1;
            reply.push_back(Spi((pointer_ & 1) ? 0x28 : 0x20, static_cast<uint8_t>(word >> 8),
                                static_cast<uint8_t>(word), 0));
        }
    }
}

void SimBoard::Execute(std::vector<uint8_t>& reply)
{
    const uint8_t c = command_;
    const bool firmware = mode_ == Mode::Firmware;
    const std::vector<uint8_t>& p = params_;
    switch (c) {
    case '%':
        if (!garbageSent_) {
            garbageSent_ = true;
            reply.insert(reply.end(), config_.garbage.begin(), config_.garbage.end());
        }
        if (firmware)
            reply.push_back(config_.star ? '*' : '+');
        else
            reply.push_back(hasFirmware_ ? '+' : '-');
        break;
    case '@': {
        const std::string& v = firmware ? version_ : config_.loaderVersion;
        reply.insert(reply.end(), v.begin(), v.end());
        break;
    }
    case '&':
        deviceCode_ = p[0];
        reply.push_back(kAck);
        break;
    case ':':
        pointer_ = (static_cast<uint32_t>(p[0]) << 8) | p[1];
        reply.push_back(kAck);
        break;
    case '#':
        reply.push_back(kAck);
        if (firmware) {
            speedIndex_ = p[0];
            spiCode_ = p[1];
            polling_ = p[2];
            pendingBaud_ = BaudForSpeedIndex(p[0]);
        }
        break;
    case 'Q':
        chip_.BeginResetStrobe();
        reply.push_back(kAck);
        break;
    case 'L':
    case 'U':
        chip_.SetResetLow(c == 'L');
        reply.push_back(kAck);
        break;
    case '+':
        chip_.PrepareAt89s();
        reply.push_back(kAck);
        break;
    case '4':
        Spi(p[0], p[1], p[2], p[3]);
        reply.push_back(kAck);
        break;
    case '5':
        reply.push_back(Spi(p[0], p[1], p[2], 0x00));
        break;
    case '3':
        // the erase instruction of the AT89S family, whatever the bytes say
        Spi(0xAC, 0x80, 0x00, 0x00);
        reply.push_back(kAck);
        break;
    case '-':
        chip_.EndProgramming();
        reply.push_back(kAck);
        break;
    case kEsc:
        break;
    case '?': {
        const std::string& name = firmware ? config_.name : config_.loaderName;
        const size_t len = std::min<size_t>(name.size(), 255);
        reply.push_back(static_cast<uint8_t>(len));
        reply.insert(reply.end(), name.begin(), name.begin() + static_cast<long>(len));
        reply.push_back(kAck);
        break;
    }
    case 'N':
        reply.insert(reply.end(), config_.serial.begin(), config_.serial.end());
        reply.push_back(kAck);
        break;
    case 'W':
        delayCode_ = p[0];
        reply.push_back(kAck);
        break;
    case '{':
    case '>':
        WriteBlock(c == '{');
        ++blockWrites_;
        reply.push_back(blockWrites_ == config_.pollFailBlock ? kEsc : kAck);
        break;
    case '}':
    case '<':
        ReadBlock(c == '}', p[0], reply);
        break;
    case '^':
        reply.push_back('+');
        mode_ = Mode::Uploading;
        upload_.clear();
        break;
    default:
        break;
    }
    ApplyFaults(c, counts_[c], reply);
}

void SimBoard::ApplyFaults(uint8_t command, int occurrence, std::vector<uint8_t>& reply)
{
    auto hits = [&](const std::vector<ReplyFault>& faults, const ReplyFault** which) {
        for (const ReplyFault& f : faults)
            if (f.command == command && f.occurrence == occurrence) {
                if (which)
                    *which = &f;
                return true;
            }
        return false;
    };
    const ReplyFault* f = nullptr;
    if (hits(config_.noReply, nullptr))
        reply.clear();
    if (!reply.empty() && hits(config_.wrongReply, &f))
        reply.back() = f->value >= 0 ? static_cast<uint8_t>(f->value)
                                     : static_cast<uint8_t>(reply.back() ^ 0xFF);
    if (!reply.empty() && hits(config_.truncated, nullptr))
        reply.pop_back();
}

}  // namespace zelko::sim
