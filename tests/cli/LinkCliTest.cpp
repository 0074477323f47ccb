#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "core/app/Messages.h"
#include "support/TestSupport.h"

namespace zelko::test {
namespace {

TEST(LinkCli, SignatureOfASimulatedChip)
{
    const CliResult r = RunCli("--port sim:ATmega8/8A signature");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Reading signature\nReset strobe... (20 ms)\nConnection accepted\n"
              "Signature: 1E 93 07 - ATmega8/8A\n");
    EXPECT_EQ(r.err, "");
}

TEST(LinkCli, SignatureFailuresExitNonZero)
{
    const CliResult noFirmware = RunCli("--port sim:ATmega8/8A,firmware=0 signature");
    EXPECT_EQ(noFirmware.status, 1);
    EXPECT_NE(noFirmware.err.find(Translate(1197)), std::string::npos) << noFirmware.err;

    const CliResult missing = RunCli("--port /nonexistent/ttyUSB7 signature");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(Translate(1173)), std::string::npos);
    EXPECT_NE(missing.out.find("Cannot open /nonexistent/ttyUSB7: No such file or directory"),
              std::string::npos)
        << missing.out;

    const CliResult noPort = RunCli("signature");  // fresh settings: no port chosen
    EXPECT_EQ(noPort.status, 1);
    EXPECT_NE(noPort.out.find(Translate(1031)), std::string::npos);

    EXPECT_EQ(RunCli("--port sim --device NoSuchChip signature").status, 2);
}

TEST(LinkCli, CalibrationAndBoardInfo)
{
    const CliResult cal =
        RunCli("--port sim:ATtiny13/13A,cal=5A4F --device ATtiny13/13A calibration");
    EXPECT_EQ(cal.status, 0);
    EXPECT_NE(cal.out.find("Calibration bytes: 5A 4F\n"), std::string::npos) << cal.out;
    EXPECT_EQ(cal.err, "Calibration bytes:\n\n    1 MHz: 0x5A\n    2 MHz: 0x4F\n");

    const CliResult info = RunCli("--port sim info");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.err.find("\nVoltage: 3.3 ... 5.0 V\nSerial number: "), std::string::npos)
        << info.err;

    const CliResult none = RunCli("--port sim --device AT89S52 calibration");
    EXPECT_EQ(none.status, 1);
}

}  // namespace
}  // namespace zelko::test
