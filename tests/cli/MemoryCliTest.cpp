// zelko-cli's memory commands: output, exit status, and files, against the
// simulator in the program and, for a chip that keeps its contents from one
// command to the next, against zi1sim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/app/Messages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace zelko::test {
namespace {

bool Contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

const std::string kBlink = std::string(ZELKO_FIXTURES) + "/blink.hex";

TEST(MemoryCli, CommandsOnAFreshSimulatedChip)
{
    struct Case {
        std::string args;
        int status;
        std::string lastLine;  // of stdout
    };
    const Case cases[] = {
        {"--port sim blank", 0, "Blank check: Flash is blank"},
        {"--port sim erase", 0, "Device erased"},
        {"--port sim program flash '" + kBlink + "'", 0, "Flash program: Done (116 bytes programmed)"},
        // A fresh chip does not hold the program: a difference is a failure.
        {"--port sim verify flash '" + kBlink + "'", 1, "Flash verify: ERROR at byte 0 (0x0)"},
        {"--port sim:ATmega8/8A,locked=1,stuck=1 erase", 1, "Chip not erased - device is locked"},
        {"--port sim --device AT89S51 program eeprom '" + kBlink + "'", 1, Translate(1102)},
        {"--port sim:ATmega8/8A,noreply=}:1 verify flash '" + kBlink + "'", 1, Translate(1093)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args);
        const CliResult r = RunCli(k.args);
        EXPECT_EQ(r.status, k.status) << r.out << r.err;
        ASSERT_FALSE(r.out.empty());
        std::string out = r.out.substr(0, r.out.size() - 1);
        EXPECT_EQ(out.substr(out.rfind('\n') + 1), k.lastLine);
    }
}

TEST(MemoryCli, ReadSavesOnlyWhatWasRead)
{
    TempDir dir;
    const auto file = dir / "chip.bin";
    CliResult r = RunCli("--port sim:ATmega8/8A read flash '" + file.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(file), std::string(8192, '\xFF'));

    const auto failed = dir / "failed.bin";
    r = RunCli("--port sim:ATmega8/8A,noreply=}:3 read flash '" + failed.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, Translate(1087))) << r.err;
    EXPECT_FALSE(std::filesystem::exists(failed));
}

TEST(MemoryCli, UsageErrors)
{
    for (const char* args : {"program", "program rom x.hex", "read flash", "verify eeprom",
                             "erase now", "update-firmware a b"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(RunCli(std::string("--port sim ") + args).status, 2);
    }
    const CliResult missing = RunCli("--port sim program flash /nonexistent/image.hex");
    EXPECT_EQ(missing.status, 1);
}

TEST(MemoryCli, FirmwareUpdateAsksAndChecksTheImage)
{
    const std::string loader = "--port sim:ATmega8/8A,firmware=0,bootloader=1 ";
    // Without --yes the question gets the safe answer: nothing is sent.
    CliResult r = RunCli(loader + "update-firmware");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "New version: 1.0c")) << r.err;

    r = RunCli(loader + "--yes update-firmware");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, Translate(1175)));

    TempDir dir;
    WriteFile(dir / "short.bin", "ZI1F");
    r = RunCli(loader + "--yes update-firmware '" + (dir / "short.bin").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "is 4 bytes long instead of 12288")) << r.err;
    EXPECT_FALSE(Contains(r.out, "Reading firmware version"));
}

// Ctrl-C during a transfer is the Cancel button: the read stops after the
// block in progress, the command says so and exits non-zero.
TEST(MemoryCli, InterruptCancelsTheTransfer)
{
    TempDir dir;
    const auto out = dir / "out.txt";
    const auto err = dir / "err.txt";
    const auto file = dir / "chip.bin";
    const std::string command = std::string("exec '") + ZELKO_CLI +
                                "' --port sim:ATmega2560/2561,slow=1 --device ATmega2560/2561 read flash '" + file.string() +
                                "' >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    pid_t pid = -1;
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    // Wait until the transfer runs (a slow board: 256 KiB would take minutes).
    for (int i = 0; i < 200 && !Contains(ReadFile(out), "Connection accepted"); ++i)
        usleep(50 * 1000);
    usleep(500 * 1000);
    kill(pid, SIGINT);
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw)) << "killed by the signal instead of cancelling";
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    const std::string text = ReadFile(out);
    EXPECT_TRUE(Contains(text, "Flash read cancelled")) << text;
    EXPECT_TRUE(Contains(text, "Flash length: 262144 (0x40000) bytes")) << text;
    EXPECT_FALSE(std::filesystem::exists(file));
}

// zi1sim keeps its chip between the commands: program, verify and read back
// the sample program through a pseudo-terminal.
TEST(MemoryCli, ProgramVerifyReadThroughAPseudoTerminal)
{
    if (std::string(ZELKO_SIM_BIN).empty())
        GTEST_SKIP() << "zi1sim is not built";
    Zi1simProcess sim({"--device", "ATmega8/8A"});
    ASSERT_FALSE(sim.Path().empty());
    const std::string port = "--port '" + sim.Path() + "' --speed 2 ";
    CliResult r = RunCli(port + "program flash '" + kBlink + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = RunCli(port + "verify flash '" + kBlink + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Flash verify: OK (116 bytes verified)"));
    r = RunCli(port + "blank");
    EXPECT_EQ(r.status, 1);

    TempDir dir;
    r = RunCli(port + "read flash '" + (dir / "back.hex").string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = RunCli(port + "verify flash '" + (dir / "back.hex").string() + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

}  // namespace
}  // namespace zelko::test
