// A scripted stand-in for the board's serial line: replies are queued in
// advance, and everything the program does to the line (opens, closes, writes)
// and every pause it keeps is recorded in one trace, so a test can state the
// exact byte sequence of a session.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/Clock.h"
#include "core/link/SerialPort.h"
#include "core/link/Transport.h"

namespace zelko::test {

class FakeLine : public std::enable_shared_from_this<FakeLine> {
public:
    // Queues bytes the board will answer with, in order.
    void Reply(std::initializer_list<uint8_t> bytes) { replies.insert(replies.end(), bytes); }
    void Reply(const std::string& bytes) { replies.insert(replies.end(), bytes.begin(), bytes.end()); }

    // The trace: "open 19200", "close", "tx 25 40", "sleep 50".
    std::vector<std::string> trace;
    std::deque<uint8_t> replies;
    // Answers released one per write call, in order (an empty string: the
    // board says nothing to that write).
    std::deque<std::string> perWrite;
    void OnWrites(std::initializer_list<std::string> answers)
    {
        perWrite.insert(perWrite.end(), answers.begin(), answers.end());
    }
    std::vector<uint8_t> written;   // every byte written, in order
    int drains = 0;
    int writeCalls = 0;
    int reads = 0;

    bool refuseOpen = false;        // Open fails with openError
    std::string openError = "Device or resource busy";
    int refuseOpenAt = -1;          // fail only the open with this 0-based count
    int opens = 0;
    std::vector<int> failWriteCalls;  // 1-based write calls that fail (-1)
    long shortWrite = -1;           // when >= 0, every write reports this count
    bool babble = false;            // after the replies, an endless stream of 0x55
    bool hangUp = false;            // after the replies, reads report a hang-up
    size_t maxChunk = 0;            // when > 0, a read returns at most this many bytes

    void Sleep(int ms) { trace.push_back("sleep " + std::to_string(ms)); }

    // Installs this line as the port's transport and as the program's sleeper.
    void Attach(SerialPort& port)
    {
        auto self = shared_from_this();
        port.SetTransportFactory([self](int portNumber, std::string& name) {
            name = "/dev/fake" + std::to_string(portNumber);
            self->trace.push_back("port " + std::to_string(portNumber));
            return std::unique_ptr<Transport>(new Endpoint(self));
        });
        std::weak_ptr<FakeLine> weak = self;
        SetSleeper([weak](int ms) {
            if (auto l = weak.lock())
                l->Sleep(ms);
        });
    }

    // The trace without its sleeps and port lookups.
    std::vector<std::string> Bytes() const
    {
        std::vector<std::string> out;
        for (const std::string& t : trace)
            if (t.rfind("tx ", 0) == 0)
                out.push_back(t);
        return out;
    }

private:
    class Endpoint : public Transport {
    public:
        explicit Endpoint(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
        bool Open(int baud, std::string& error) override
        {
            const int n = line_->opens++;
            if (line_->refuseOpen || n == line_->refuseOpenAt) {
                error = line_->openError;
                line_->trace.push_back("open-failed " + std::to_string(baud));
                return false;
            }
            line_->trace.push_back("open " + std::to_string(baud));
            return true;
        }
        void Close() override { line_->trace.push_back("close"); }
        void Drain() override { ++line_->drains; }
        long Write(const uint8_t* data, size_t n, int) override
        {
            const int call = ++line_->writeCalls;
            for (int f : line_->failWriteCalls)
                if (f == call) {
                    line_->trace.push_back("tx-failed");
                    return -1;
                }
            std::string t = "tx";
            char hex[4];
            for (size_t i = 0; i < n; ++i) {
                std::snprintf(hex, sizeof hex, " %02X", data[i]);
                t += hex;
                line_->written.push_back(data[i]);
            }
            line_->trace.push_back(t);
            if (!line_->perWrite.empty()) {
                line_->Reply(line_->perWrite.front());
                line_->perWrite.pop_front();
            }
            return line_->shortWrite >= 0 ? line_->shortWrite : static_cast<long>(n);
        }
        long Read(uint8_t* data, size_t n, int) override
        {
            ++line_->reads;
            size_t limit = line_->maxChunk > 0 ? std::min(n, line_->maxChunk) : n;
            size_t got = 0;
            while (got < limit && !line_->replies.empty()) {
                data[got++] = line_->replies.front();
                line_->replies.pop_front();
            }
            while (got < limit && line_->babble)
                data[got++] = 0x55;
            if (got == 0 && line_->hangUp)
                return -1;
            return static_cast<long>(got);
        }

    private:
        std::shared_ptr<FakeLine> line_;
    };
};

}  // namespace zelko::test
