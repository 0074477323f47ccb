// A scripted programmer board for the lock and fuse tests: it answers the
// session commands as a healthy board does, takes its answers to the chip
// instructions from the test, records every command with the virtual time at
// which it arrived, and can drop any one reply.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/link/Transport.h"

namespace zelko::test {

struct FakeFrame {
    std::vector<uint8_t> bytes;  // command byte and its parameters
    long long timeMs = 0;        // virtual time when the last byte arrived
    int reply = -1;              // number of the board's reply to it; -1 = none
};

class FakeBoard {
public:
    // Virtual clock, advanced by the test's sleeper.
    long long nowMs = 0;
    std::vector<FakeFrame> frames;
    int opens = 0;
    int closes = 0;
    bool open = false;

    std::array<uint8_t, 3> signature{0x1E, 0x95, 0x0F};
    // Answers to '5' instructions other than the signature read, by their three
    // bytes; 0xFF when none is given.
    std::map<std::array<uint8_t, 3>, uint8_t> readReplies;
    // The reply to a '4' instruction other than programming enable; -1 sends
    // nothing. Default: acknowledge.
    std::function<int(const std::array<uint8_t, 4>&)> writeReply;
    // The reply with this number (0-based, counting every reply the board
    // sends) is never sent; -1 = none.
    int dropReply = -1;
    int repliesSent = 0;
    // Writes fail after this many commands were taken; -1 = never.
    int failWritesAfter = -1;

    // '4' instructions other than programming enable, in order.
    std::vector<std::array<uint8_t, 4>> Writes() const
    {
        std::vector<std::array<uint8_t, 4>> out;
        for (const FakeFrame& f : frames) {
            if (f.bytes.size() == 5 && f.bytes[0] == '4' && !IsProgrammingEnable(f))
                out.push_back({f.bytes[1], f.bytes[2], f.bytes[3], f.bytes[4]});
        }
        return out;
    }
    std::vector<long long> WriteTimes() const
    {
        std::vector<long long> out;
        for (const FakeFrame& f : frames) {
            if (f.bytes.size() == 5 && f.bytes[0] == '4' && !IsProgrammingEnable(f))
                out.push_back(f.timeMs);
        }
        return out;
    }
    // '5' instructions other than the signature read, in order.
    std::vector<std::array<uint8_t, 3>> Reads() const
    {
        std::vector<std::array<uint8_t, 3>> out;
        for (const FakeFrame& f : frames) {
            if (f.bytes.size() == 4 && f.bytes[0] == '5' && f.bytes[1] != 0x30)
                out.push_back({f.bytes[1], f.bytes[2], f.bytes[3]});
        }
        return out;
    }
    // The mode packets sent ('#', speed, SPI code, polling).
    std::vector<std::vector<uint8_t>> ModePackets() const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const FakeFrame& f : frames)
            if (!f.bytes.empty() && f.bytes[0] == '#')
                out.push_back(f.bytes);
        return out;
    }

    // Feeds bytes written by the program; returns false when the write fails.
    bool Take(const uint8_t* data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            if (failWritesAfter >= 0 && static_cast<int>(frames.size()) >= failWritesAfter)
                return false;
            pending_.push_back(data[i]);
            const int need = ParamCount(pending_[0]);
            if (static_cast<int>(pending_.size()) < need + 1)
                continue;
            frames.push_back({pending_, nowMs});
            Answer(pending_);
            pending_.clear();
        }
        return true;
    }

    long Give(uint8_t* data, size_t n)
    {
        size_t k = 0;
        while (k < n && !out_.empty()) {
            data[k++] = out_.front();
            out_.pop_front();
        }
        return static_cast<long>(k);
    }

    void Reset()
    {
        pending_.clear();
        out_.clear();
    }

private:
    static bool IsProgrammingEnable(const FakeFrame& f)
    {
        return f.bytes[1] == 0xAC && f.bytes[2] == 0x53 && f.bytes[3] == 0x00 && f.bytes[4] == 0x00;
    }

    static int ParamCount(uint8_t command)
    {
        switch (command) {
        case '&': return 1;
        case ':': return 2;
        case '#': return 3;
        case '4': return 4;
        case '5': return 3;
        case 'W': return 1;
        case '3': return 4;
        default: return 0;
        }
    }

    void Reply(std::initializer_list<uint8_t> bytes)
    {
        const int number = repliesSent++;
        frames.back().reply = number;
        if (number == dropReply)
            return;
        out_.insert(out_.end(), bytes.begin(), bytes.end());
    }

    void Answer(const std::vector<uint8_t>& f)
    {
        switch (f[0]) {
        case '%': Reply({'+'}); break;
        case '@': Reply({'1', '0', 'c'}); break;
        case '&': case ':': case '#': case 'Q': case 'L': case 'U': case '+': case '-':
        case 'W': case '3':
            Reply({0x0D});
            break;
        case '4': {
            if (f[1] == 0xAC && f[2] == 0x53) {
                Reply({0x53});
                break;
            }
            const int r = writeReply ? writeReply({f[1], f[2], f[3], f[4]}) : 0x0D;
            if (r >= 0)
                Reply({static_cast<uint8_t>(r)});
            break;
        }
        case '5': {
            if (f[1] == 0x30) {
                Reply({signature[f[3] % 3]});
                break;
            }
            auto it = readReplies.find({f[1], f[2], f[3]});
            Reply({it == readReplies.end() ? uint8_t{0xFF} : it->second});
            break;
        }
        default:
            break;  // ESC and commands this board does not know: no answer
        }
    }

    std::vector<uint8_t> pending_;
    std::deque<uint8_t> out_;
};

// One opening of the port on the shared board.
class FakeTransport : public Transport {
public:
    explicit FakeTransport(FakeBoard& board) : board_(board) {}

    bool Open(int /*baud*/, std::string& /*error*/) override
    {
        board_.Reset();
        board_.open = true;
        ++board_.opens;
        return true;
    }
    void Close() override
    {
        board_.open = false;
        ++board_.closes;
    }
    void Drain() override {}
    long Write(const uint8_t* data, size_t n, int /*timeoutMs*/) override
    {
        return board_.Take(data, n) ? static_cast<long>(n) : -1;
    }
    long Read(uint8_t* data, size_t n, int timeoutMs) override
    {
        const long k = board_.Give(data, n);
        if (k == 0)
            board_.nowMs += timeoutMs;  // the read waits out its time-out
        return k;
    }

private:
    FakeBoard& board_;
};

}  // namespace zelko::test
