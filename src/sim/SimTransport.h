// The simulator in this process: a Transport over a simulated board, and the
// boards behind the port names "sim" and "sim:NAME[,options]", each kept for
// the life of the process so that its chip keeps what was programmed.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "core/link/Transport.h"
#include "sim/SimBoard.h"

namespace zelko::sim {

// Talks to a board as a serial port would. Replies are there at once (a read
// with nothing pending returns 0 without waiting), unless the board is set to
// send slowly; then each reply byte waits its turn in real time. A transport
// opened at another speed than the board's line garbles the traffic.
class SimTransport : public Transport {
public:
    explicit SimTransport(std::shared_ptr<SimBoard> board);
    // A transport that cannot open, for a port name that names no board.
    static std::unique_ptr<SimTransport> Failing(std::string reason);

    bool Open(int baud, std::string& error) override;
    void Close() override;
    void Drain() override {}
    long Write(const uint8_t* data, size_t n, int timeoutMs) override;
    long Read(uint8_t* data, size_t n, int timeoutMs) override;

    SimBoard* Board() const { return board_.get(); }
    int Baud() const { return baud_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        uint8_t byte;
        Clock::time_point ready;
    };

    std::shared_ptr<SimBoard> board_;
    std::string failure_;
    bool open_ = false;
    int baud_ = 0;
    std::deque<Pending> pending_;
    Clock::time_point lastReady_{};
};

// The board of a port name, made on first use and kept for the process.
// "sim" is a chip of `selectedDevice` (one board per device). Null with `error`
// when the name or its options are bad.
std::shared_ptr<SimBoard> SimBoardFor(const std::string& portName, int selectedDevice,
                                      std::string& error);

// The board a port name has made so far, or null.
std::shared_ptr<SimBoard> FindSimBoard(const std::string& portName, int selectedDevice = -1);

// Forgets every board (tests start afresh with it).
void ResetSimBoards();

// The transport for a port name: a SimTransport over its board, or one whose
// open fails with the reason.
std::unique_ptr<Transport> MakeSimTransport(const std::string& portName, int selectedDevice);

// Makes the port names "sim" and "sim:NAME" open the simulator in this program.
// The boards it makes keep no trace.
void RegisterBuiltInSimulator();

}  // namespace zelko::sim
