// A Transport on a POSIX serial device (USB-serial adapter, on-board UART or a
// pseudo-terminal), raw 8-N-1 without flow control.
#pragma once

#include <string>

#include "core/link/Transport.h"

namespace zelko {

class PosixSerialTransport : public Transport {
public:
    explicit PosixSerialTransport(std::string path);
    ~PosixSerialTransport() override;
    PosixSerialTransport(const PosixSerialTransport&) = delete;
    PosixSerialTransport& operator=(const PosixSerialTransport&) = delete;

    // Opens the device exclusively: TIOCEXCL keeps other openers out, and an
    // flock() on the device file also stops processes running as root. On
    // failure `error` holds the system's reason (and the remedy for a
    // permission problem).
    bool Open(int baud, std::string& error) override;
    void Close() override;
    void Drain() override;
    // Waits at most timeoutMs in total for all n bytes to be written.
    long Write(const uint8_t* data, size_t n, int timeoutMs) override;
    // Waits at most timeoutMs in total for the n bytes and returns what has
    // arrived by then: 0 when nothing did, -1 when the peer hung up (or the
    // device failed) before any byte arrived.
    long Read(uint8_t* data, size_t n, int timeoutMs) override;

    const std::string& Path() const { return path_; }
    int Fd() const { return fd_; }

    // The termios speed constant for a line speed; 0 when unsupported.
    static unsigned SpeedConstant(int baud);

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace zelko
