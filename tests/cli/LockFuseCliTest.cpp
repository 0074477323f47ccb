// zelko-cli fuses and autoprogram against the simulator built into the program.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "support/TestSupport.h"

namespace zelko::test {
namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class LockFuseCli : public ::testing::Test {
protected:
    CliResult Fuses(const std::string& port, const std::string& device, const std::string& rest)
    {
        return RunCli("--port '" + port + "' --device '" + device + "' fuses " + rest, dir.path());
    }
    TempDir dir;
};

TEST_F(LockFuseCli, ReadShowsEveryBit)
{
    const CliResult r = Fuses("sim:ATmega8/8A,lfuse=0xE1,hfuse=0xD9,lock=0xEC", "ATmega8/8A", "read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Lock mode: 2 (LB1+LB2: R&W protect)\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "CKSEL0           unprogrammed\n"));
    EXPECT_TRUE(Has(r.out, "CKSEL1           programmed\n"));
    EXPECT_TRUE(Has(r.out, "SPIEN            programmed\n"));
    EXPECT_TRUE(Has(r.out, "BLB11            programmed\n"));
    EXPECT_TRUE(Has(r.out, "BLB01            unprogrammed\n"));
    EXPECT_EQ(r.err, "");

    // A chip whose bits cannot be read back reads nothing.
    const CliResult rf = Fuses("sim:AT86RF401", "AT86RF401", "read");
    EXPECT_EQ(rf.status, 1);
    EXPECT_TRUE(Has(rf.err, Translate(1059)));

    // Another chip than the selection: the safe answer to the question stops.
    const CliResult other = Fuses("sim:ATmega8/8A", "ATmega328/328P", "read");
    EXPECT_EQ(other.status, 1);
    EXPECT_TRUE(Has(other.err, Translate(1049)));
    EXPECT_TRUE(Has(other.out, Translate(1106)));
}

TEST_F(LockFuseCli, ProgramRefusesBitsThatLockOutTheProgrammer)
{
    const std::string port = "sim:ATmega328/328P";
    const std::string device = "ATmega328/328P";
    const CliResult plain = Fuses(port, device, "program lock=1 BLB01=1 BODLEVEL1=1");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(Has(plain.out, Translate(1109)));

    const CliResult risky = Fuses(port, device, "program CKSEL1=1 RSTDISBL=1");
    EXPECT_EQ(risky.status, 1);
    EXPECT_TRUE(Has(risky.err, Format(1002, "RSTDISBL"))) << risky.err;
    EXPECT_TRUE(Has(risky.err, Translate(1165)));
    EXPECT_FALSE(Has(risky.out, Translate(1040)));  // nothing was sent

    const CliResult forced = RunCli("--force --port '" + port + "' --device '" + device +
                               "' fuses program CKSEL1=1 RSTDISBL=1",
                           dir.path());
    EXPECT_EQ(forced.status, 0) << forced.err;

    // The chip refuses a write: reported, and the exit status says so.
    const CliResult refused = Fuses(port + ",wrongreply=4:2", device, "program");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Has(refused.err, Translate(1108)));

    // Usage errors.
    for (const char* bad : {"program NOSUCH=1", "program SPIEN=2", "program lock=3",
                            "program SPIEN", "read SPIEN=1", "erase"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Fuses(port, device, bad).status, 2);
    }
}

TEST_F(LockFuseCli, VerifyExitStatus)
{
    // A fresh ATmega8 carries the recommended bits: SPIEN programmed.
    const std::string port = "sim:ATmega8/8A,lfuse=0xFF,hfuse=0xDF,lock=0xFF";
    const CliResult same = Fuses(port, "ATmega8/8A", "verify");
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_TRUE(Has(same.err, Translate(1159)));

    const CliResult differs = Fuses(port, "ATmega8/8A", "verify EESAVE=1");
    EXPECT_EQ(differs.status, 1);
    EXPECT_TRUE(Has(differs.err, std::string(Translate(1160)) + Format(1162, "EESAVE")))
        << differs.err;

    const CliResult noBoard = Fuses("sim:ATmega8/8A,firmware=0", "ATmega8/8A", "verify");
    EXPECT_EQ(noBoard.status, 1);
}

// A project for an ATmega8 that programs and verifies a small Flash image,
// with the lock and fuse bits first when `fuses` is set.
std::string SaveProject(const TempDir& dir, bool fuses, bool flash)
{
    RecordingUi ui;
    Controller c(ui);
    c.projectSettings.DeviceIndex = FindByName("ATmega8/8A");
    WriteFile(dir / "app.bin", std::string("\x0C\x94\x2A\x00\x0C\x94", 6));
    EXPECT_TRUE(c.LoadFile(c.flashBuffer, (dir / "app.bin").string()));
    c.projectSettings.AutoFlashProgram = flash;
    c.projectSettings.AutoFlashVerify = flash;
    c.projectSettings.ProgramFuse = fuses;
    c.projectSettings.ProgramFuseBeforeAll = true;
    c.projectSettings.LockFuse.fuses[13] = 1;  // SPIEN
    const std::string path = (dir / "job.zelko").string();
    c.SaveProject(path);
    return path;
}

TEST_F(LockFuseCli, AutoProgram)
{
    const std::string project = SaveProject(dir, true, true);

    const CliResult ok = RunCli("--port sim:ATmega8/8A autoprogram '" + project + "'", dir.path());
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_TRUE(Has(ok.out, Format(1064, 6))) << ok.out;
    EXPECT_TRUE(Has(ok.err, Translate(1190)));
    EXPECT_FALSE(std::filesystem::exists(dir / "log.txt"));

    const CliResult quiet = RunCli("--port sim:ATmega8/8A autoprogram '" + project + "' --quiet",
                          dir.path());
    EXPECT_EQ(quiet.status, 0) << quiet.out << quiet.err;
    EXPECT_EQ(ReadFile(dir / "log.txt"),
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: OK\n");

    // Flash programming fails.
    const CliResult failed =
        RunCli("--port 'sim:ATmega8/8A,noreply={:1' --quiet autoprogram '" + project + "'",
            dir.path());
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(Has(failed.out, Translate(1126)));

    // The fuse write is refused: the run goes on but is no success.
    const CliResult fuse =
        RunCli("--port 'sim:ATmega8/8A,wrongreply=4:2' --quiet autoprogram '" + project + "'",
            dir.path());
    EXPECT_EQ(fuse.status, 1);
    EXPECT_TRUE(Has(fuse.out, Format(1064, 6)) == false);
    EXPECT_EQ(ReadFile(dir / "log.txt"),
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: OK\n"
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: Error\n"
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: Error\n");
}

TEST_F(LockFuseCli, AutoProgramWithoutActionsOrProject)
{
    const std::string fusesOnly = SaveProject(dir, true, false);
    const CliResult r = RunCli("--port sim:ATmega8/8A autoprogram '" + fusesOnly + "'", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, Translate(1133)));

    const CliResult missing = RunCli("--port sim:ATmega8/8A autoprogram nosuch.zelko", dir.path());
    EXPECT_EQ(missing.status, 1);

    EXPECT_EQ(RunCli("autoprogram", dir.path()).status, 2);
    EXPECT_EQ(RunCli("--device ATmega8/8A autoprogram '" + fusesOnly + "'", dir.path()).status, 2);
}

TEST_F(LockFuseCli, RoundTripThroughAPseudoTerminal)
{
    if (std::string(ZELKO_SIM_BIN).empty() || !std::filesystem::exists(ZELKO_SIM_BIN))
        GTEST_SKIP() << "zi1sim is not built";
    {
        // Mode 2 of an AT89S51 reads back as mode 2.
        Zi1simProcess sim({"--device", "AT89S51"});
        ASSERT_FALSE(sim.Path().empty());
        EXPECT_EQ(Fuses(sim.Path(), "AT89S51", "program lock=2").status, 0);
        const CliResult read = Fuses(sim.Path(), "AT89S51", "read");
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_TRUE(Has(read.out, "Lock mode: 2 (LB1+LB2)\n")) << read.out;
        EXPECT_EQ(Fuses(sim.Path(), "AT89S51", "verify lock=2").status, 0);
        EXPECT_EQ(Fuses(sim.Path(), "AT89S51", "verify lock=1").status, 1);
    }
    {
        Zi1simProcess sim({"--device", "ATmega8/8A"});
        ASSERT_FALSE(sim.Path().empty());
        const CliResult program = RunCli("--speed 2 --port " + sim.Path() +
                                          " --device ATmega8/8A fuses program lock=1 BLB12=1 "
                                          "BOOTSZ0=0 CKOPT=1",
                                      dir.path());
        EXPECT_EQ(program.status, 0) << program.err;
        EXPECT_EQ(Fuses(sim.Path(), "ATmega8/8A", "verify lock=1 BLB12=1 BOOTSZ0=0 CKOPT=1").status,
                  0);
        const CliResult differs = Fuses(sim.Path(), "ATmega8/8A", "verify lock=1 BLB12=1");
        EXPECT_EQ(differs.status, 1);
        EXPECT_TRUE(Has(differs.err, Format(1163, "CKOPT"))) << differs.err;
    }
}

}  // namespace
}  // namespace zelko::test
