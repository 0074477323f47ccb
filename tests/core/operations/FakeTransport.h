// A scripted ZI1 board for byte-exact tests of the transfers: it splits what
// the program writes into whole board commands, answers each with the
// protocol's usual reply (or what the test's hook makes of it), and keeps one
// log of commands and pauses in order, e.g. "57 DC", "sleep 10".
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/Clock.h"
#include "core/link/SerialPort.h"
#include "core/link/Transport.h"

namespace zelko::test {

inline std::string Hex(const std::vector<uint8_t>& bytes, size_t max = 8)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    if (bytes.size() > max)
        s += " ...";
    return s;
}

class FakeBoard {
public:
    // Called for every whole command with its 0-based index among the
    // commands; may change `reply` (clear it to drop the answer).
    std::function<void(const std::vector<uint8_t>& command, int index, std::vector<uint8_t>& reply)>
        hook;
    std::vector<uint8_t> flash = std::vector<uint8_t>(1024, 0xFF);  // served by reads
    bool babbleAfterUpload = false;

    // Whole commands and pauses, in order. Data commands are cut after 8 bytes.
    std::vector<std::string> Log() const
    {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<std::vector<uint8_t>> Commands() const
    {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    // Commands only (no pauses), as in the log.
    std::vector<std::string> CommandLog() const
    {
        std::vector<std::string> out;
        for (const auto& c : Commands())
            out.push_back(Hex(c));
        return out;
    }
    std::vector<int> Sleeps() const
    {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }
    // Every write call's bytes, in order.
    std::vector<std::vector<uint8_t>> Writes() const
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    size_t BytesWritten() const
    {
        std::lock_guard lock(mutex_);
        return written_;
    }

    void Sleep(int ms)
    {
        std::lock_guard lock(mutex_);
        log_.push_back("sleep " + std::to_string(ms));
        sleeps_.push_back(ms);
    }

    void Feed(const uint8_t* data, size_t n)
    {
        std::lock_guard lock(mutex_);
        written_ += n;
        writes_.emplace_back(data, data + n);
        for (size_t i = 0; i < n; ++i) {
            if (uploadLeft_ > 0) {
                group_.push_back(data[i]);
                --uploadLeft_;
                if (group_.size() == 4) {
                    Finish(group_, {0x0D});
                    group_.clear();
                    if (uploadLeft_ == 0 && babbleAfterUpload)
                        babbling_ = true;
                }
                continue;
            }
            current_.push_back(data[i]);
            if (current_.size() == Length(current_)) {
                std::vector<uint8_t> cmd;
                cmd.swap(current_);
                Execute(cmd);
            }
        }
    }

    long Take(uint8_t* out, size_t n)
    {
        std::lock_guard lock(mutex_);
        size_t k = 0;
        while (k < n && !pending_.empty()) {
            out[k++] = pending_.front();
            pending_.pop_front();
        }
        while (k < n && babbling_)
            out[k++] = 0x55;
        return static_cast<long>(k);
    }

private:
    static size_t Length(const std::vector<uint8_t>& c)
    {
        switch (c[0]) {
        case '&': case 'W': case '}': case '<': return 2;
        case ':': return 3;
        case '#': case '5': return 4;
        case '4': case '3': return 5;
        case '{': case '>': return c.size() < 2 ? 2 : 2 + c[1];
        default: return 1;
        }
    }

    void Execute(const std::vector<uint8_t>& c)
    {
        std::vector<uint8_t> reply{0x0D};
        switch (c[0]) {
        case '%': reply = {'+'}; break;
        case '@': reply = {'1', '0', 'c'}; break;
        case 0x1B: reply.clear(); break;
        case '^':
            reply = {'+'};
            uploadLeft_ = 12288;
            break;
        case '}':
        case '<':
            reply.clear();
            for (int i = 0; i < c[1]; ++i, ++pointer_)
                reply.push_back(pointer_ < flash.size() ? flash[pointer_] : 0xFF);
            break;
        case '5':
            if (c[1] == 0x20) {
                const size_t a = (c[2] << 8) | c[3];
                reply = {a < flash.size() ? flash[a] : uint8_t(0xFF)};
            } else {
                reply = {0x00};
            }
            break;
        default: break;
        }
        Finish(c, reply);
    }

    void Finish(const std::vector<uint8_t>& c, std::vector<uint8_t> reply)
    {
        const int index = static_cast<int>(commands_.size());
        commands_.push_back(c);
        log_.push_back(Hex(c));
        if (hook)
            hook(c, index, reply);
        pending_.insert(pending_.end(), reply.begin(), reply.end());
    }

    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::vector<uint8_t>> commands_;
    std::vector<int> sleeps_;
    std::vector<std::vector<uint8_t>> writes_;
    std::vector<uint8_t> current_;
    std::vector<uint8_t> group_;
    std::deque<uint8_t> pending_;
    size_t pointer_ = 0;
    size_t written_ = 0;
    int uploadLeft_ = 0;
    bool babbling_ = false;
};

class FakeTransport : public Transport {
public:
    explicit FakeTransport(std::shared_ptr<FakeBoard> board) : board_(std::move(board)) {}
    bool Open(int, std::string&) override { return true; }
    void Close() override {}
    void Drain() override {}
    long Write(const uint8_t* data, size_t n, int) override
    {
        board_->Feed(data, n);
        return static_cast<long>(n);
    }
    long Read(uint8_t* data, size_t n, int) override { return board_->Take(data, n); }

private:
    std::shared_ptr<FakeBoard> board_;
};

// Connects a port to a fresh fake board and routes the pauses into its log;
// the pauses go back to real time when this is destroyed.
class FakeBoardLink {
public:
    explicit FakeBoardLink(SerialPort& port) : board(std::make_shared<FakeBoard>())
    {
        auto b = board;
        port.SetTransportFactory([b](int, std::string& name) {
            name = "fake";
            return std::make_unique<FakeTransport>(b);
        });
        SetSleeper([b](int ms) { b->Sleep(ms); });
    }
    ~FakeBoardLink() { SetSleeper(nullptr); }
    std::shared_ptr<FakeBoard> board;
};

}  // namespace zelko::test
