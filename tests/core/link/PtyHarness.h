// Real pseudo-terminals for the serial-port tests: a bare one whose master end
// the test drives itself, and one with the board simulator answering on the
// master end from a thread of this process.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/app/Controller.h"
#include "core/link/PosixSerialTransport.h"
#include "sim/SimBoard.h"
#include "sim/SimConfig.h"

namespace zelko::test {

class Pty {
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        path = ::ptsname(master);
        // Held open so the pty lives on while the program closes and re-opens
        // its end, as a real adapter would; also shows the line speed.
        keep = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Pty()
    {
        CloseMaster();
        if (keep >= 0)
            ::close(keep);
    }
    bool Ok() const { return master >= 0 && keep >= 0; }
    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Write(const std::string& bytes) const
    {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The line speed the program's end is set to.
    int Baud() const
    {
        termios t {};
        if (::tcgetattr(keep, &t) != 0)
            return 0;
        for (int b : {19200, 38400, 57600, 115200, 230400, 460800, 921600})
            if (PosixSerialTransport::SpeedConstant(b) == ::cfgetospeed(&t))
                return b;
        return 0;
    }

    int master = -1;
    int keep = -1;
    std::string path;
};

// The simulated board behind a pty: what the program writes reaches the board
// at the speed the program's end is set to (the board garbles a mismatch), and
// the board's replies go back through the pty.
class PtyBoard {
public:
    explicit PtyBoard(const std::string& options)
    {
        std::string error;
        sim::SimConfig config;
        ok = sim::ApplySimOptions(config, options, error) && pty.Ok();
        board = std::make_shared<sim::SimBoard>(config);
        if (ok)
            pump = std::thread([this] { Pump(); });
    }
    ~PtyBoard()
    {
        stop = true;
        if (pump.joinable())
            pump.join();
    }

    // Points the controller's port 1 at this pty.
    void Connect(Controller& c)
    {
        const std::string path = pty.path;
        c.serialPort.SetTransportFactory([path](int, std::string& name) {
            name = path;
            return std::unique_ptr<Transport>(new PosixSerialTransport(path));
        });
        c.comPort = 1;
    }

    bool ok = false;
    Pty pty;
    std::shared_ptr<sim::SimBoard> board;

private:
    void Pump()
    {
        uint8_t buf[512];
        while (!stop) {
            pollfd p {pty.master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n <= 0)
                continue;
            const auto replies = board->Exchange(buf, static_cast<size_t>(n), pty.Baud());
            std::string out;
            for (const sim::ReplyByte& r : replies)
                out.push_back(static_cast<char>(r.byte));
            if (!out.empty() && ::write(pty.master, out.data(), out.size()) < 0)
                break;
        }
    }

    std::atomic<bool> stop{false};
    std::thread pump;
};

}  // namespace zelko::test
