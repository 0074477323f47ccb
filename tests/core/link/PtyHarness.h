// Real pseudo-terminals for the serial-port tests: a bare one whose master end
// the test drives itself, and the zi1sim program serving the board on one.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/app/Controller.h"
#include "core/link/PosixSerialTransport.h"
#include "support/TestSupport.h"

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

// The zi1sim program serving the simulated board on its own pseudo-terminal,
// with a trace of every byte and a dump of the board at exit.
class Zi1sim {
public:
    struct Byte {
        double seconds;
        bool fromHost;
        uint8_t value;
    };

    Zi1sim(const std::string& device, const std::string& options)
    {
        if (!Zi1simProcess::Available())
            return;
        tracePath_ = (dir_ / "trace.txt").string();
        dumpPath_ = (dir_ / "dump.txt").string();
        std::vector<std::string> args{"--device", device, "--trace", tracePath_, "--dump",
                                      dumpPath_};
        if (!options.empty()) {
            args.push_back("--options");
            args.push_back(options);
        }
        process_ = std::make_unique<Zi1simProcess>(args);
        path = process_->Path();
        if (!path.empty())
            keep = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Zi1sim()
    {
        Stop();
        if (keep >= 0)
            ::close(keep);
    }
    static bool Available() { return std::string(ZELKO_SIM_BIN).size() > 0; }
    bool Ok() const { return keep >= 0; }

    // Ends the program; its trace and dump are complete afterwards.
    void Stop()
    {
        if (process_)
            process_->Stop();
    }

    // Points the controller's port 1 at the simulator's terminal.
    void Connect(Controller& c) const
    {
        const std::string p = path;
        c.serialPort.SetTransportFactory([p](int, std::string& name) {
            name = p;
            return std::unique_ptr<Transport>(new PosixSerialTransport(p));
        });
        c.comPort = 1;
    }

    // The line speed the program's end of the terminal is set to.
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

    // Every byte on the line (after Stop).
    std::vector<Byte> Trace() const
    {
        std::vector<Byte> bytes;
        std::istringstream in(ReadFile(tracePath_));
        std::string line;
        while (std::getline(in, line)) {
            double t = 0;
            char dir[3] = {};
            unsigned v = 0;
            if (std::sscanf(line.c_str(), "%lf %2s %x", &t, dir, &v) == 3)
                bytes.push_back({t, std::string(dir) == "->", static_cast<uint8_t>(v)});
        }
        return bytes;
    }
    // The bytes the host sent, as hex.
    std::string HostBytes() const
    {
        std::string hex;
        char b[4];
        for (const Byte& e : Trace())
            if (e.fromHost) {
                std::snprintf(b, sizeof b, "%02X ", e.value);
                hex += b;
            }
        return hex;
    }
    std::string Dump() const { return ReadFile(dumpPath_); }

    std::string path;
    int keep = -1;

private:
    TempDir dir_;
    std::string tracePath_;
    std::string dumpPath_;
    std::unique_ptr<Zi1simProcess> process_;  // ends before its files go
};

}  // namespace zelko::test
