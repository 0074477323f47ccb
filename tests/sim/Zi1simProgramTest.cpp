// The zi1sim program: served on a pseudo-terminal, talked to through it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

using zelko::test::Zi1simProcess;
using Bytes = std::vector<uint8_t>;

int OpenRaw(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Writes `sent` and reads until `want` bytes came or a second passed.
Bytes Exchange(int fd, const Bytes& sent, size_t want)
{
    if (write(fd, sent.data(), sent.size()) != static_cast<ssize_t>(sent.size()))
        return {};
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        uint8_t buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
    }
    return got;
}

}  // namespace

TEST(Zi1simProgram, ServesTheBoardOnAPseudoTerminal)
{
    if (std::string(ZELKO_SIM_BIN).empty())
        GTEST_SKIP() << "zi1sim is not built";
    zelko::test::TempDir dir;
    const std::string dump = (dir / "chip.txt").string();
    const std::string trace = (dir / "trace.txt").string();
    Zi1simProcess sim({"--device", "ATmega8/8A", "--star", "--dump", dump, "--trace", trace});
    ASSERT_EQ(sim.Path().rfind("/dev/pts/", 0), 0u) << sim.Path();

    int fd = OpenRaw(sim.Path());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, {'%'}, 1), Bytes{'*'});
    EXPECT_EQ(Exchange(fd, {'@'}, 3), (Bytes{'1', '0', 'c'}));
    // a session that writes the EEPROM, for the dump
    EXPECT_EQ(Exchange(fd, {'&', 2, ':', 0, 0, 'Q', 'L', 'U', 'L', '4', 0xAC, 0x53, 0, 0,
                            '>', 2, 0x12, 0x34},
                       8),
              Bytes(8, 0x0D));
    close(fd);

    // the host may go away and come back
    usleep(100'000);
    fd = OpenRaw(sim.Path());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, {'%'}, 1), Bytes{'*'});
    close(fd);

    // a dump on request, while it keeps running
    sim.Signal(SIGUSR1);
    for (int i = 0; i < 100 && !std::filesystem::exists(dump); ++i)
        usleep(20'000);
    EXPECT_NE(zelko::test::ReadFile(dump).find("000000: 12 34 FF"), std::string::npos);
    std::filesystem::remove(dump);

    // switched off and on, the board comes up in its bootloader
    sim.Signal(SIGUSR2);
    fd = OpenRaw(sim.Path());
    ASSERT_GE(fd, 0);
    Bytes version;
    for (int i = 0; i < 50 && version != Bytes{'l', 'd', 'r'}; ++i) {
        usleep(20'000);
        version = Exchange(fd, {'@'}, 3);
    }
    EXPECT_EQ(version, (Bytes{'l', 'd', 'r'}));
    close(fd);

    EXPECT_EQ(sim.Stop(), 0);
    const std::string text = zelko::test::ReadFile(dump);
    EXPECT_NE(text.find("device ATmega8/8A"), std::string::npos) << text;
    EXPECT_NE(text.find("000000: 12 34 FF"), std::string::npos) << text;
    const std::string lines = zelko::test::ReadFile(trace);
    EXPECT_NE(lines.find("-> 25 %"), std::string::npos) << lines;
    EXPECT_NE(lines.find("<- 2A *"), std::string::npos) << lines;
}

TEST(Zi1simProgram, PacedBytesTakeTheirTimeOnTheLine)
{
    if (std::string(ZELKO_SIM_BIN).empty())
        GTEST_SKIP() << "zi1sim is not built";
    Zi1simProcess sim({"--device=ATtiny13/13A", "--pace"});
    const int fd = OpenRaw(sim.Path());
    ASSERT_GE(fd, 0);
    // 200 bytes at 19200 bit/s are on the line for at least 104 ms
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(fd, {'}', 200}, 200).size(), 200u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(104));
    close(fd);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(Zi1simProgram, RefusesBadArguments)
{
    if (std::string(ZELKO_SIM_BIN).empty())
        GTEST_SKIP() << "zi1sim is not built";
    for (const char* args : {"", "--device ATmega9", "--device ATmega8 --colour blue",
                             "--device ATmega8 --slow x"}) {
        const std::string cmd = std::string(ZELKO_SIM_BIN) + " " + args + " >/dev/null 2>&1";
        const int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args;
    }
}
