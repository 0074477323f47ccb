// A byte channel to the programmer board: a real serial device, a
// pseudo-terminal, or the simulator in this process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelko {

class Transport {
public:
    virtual ~Transport() = default;

    // Opens the channel at a line speed in bit/s. On failure `error` names the
    // system's reason.
    virtual bool Open(int baud, std::string& error) = 0;
    virtual void Close() = 0;

    // Waits until everything written before is on the line.
    virtual void Drain() = 0;

    // Writes up to n bytes, waiting at most timeoutMs; returns how many were
    // written, or -1 when the call failed.
    virtual long Write(const uint8_t* data, size_t n, int timeoutMs) = 0;

    // Reads up to n bytes, waiting at most timeoutMs for the first one and
    // returning what has arrived; 0 on time-out, -1 when the peer hung up or
    // the call failed.
    virtual long Read(uint8_t* data, size_t n, int timeoutMs) = 0;
};

}  // namespace zelko
