// Whole sessions between the program's serial port and the zi1sim program
// across a real pseudo-terminal, in real time.
#include "core/link/LinkFixture.h"
#include "core/link/PtyHarness.h"

namespace zelko::test {
namespace {

struct SimSession {
    SimSession(const char* device, const std::string& options, const char* selected = nullptr)
        : sim(device, options)
    {
        SetSleeper(nullptr);
        sim.Connect(c);
        c.projectSettings.DeviceIndex = FindByName(selected ? selected : device);
    }
    std::vector<std::string> Boxes() const { return ui.Texts(UiEvent::Box); }

    Zi1sim sim;
    RecordingUi ui;
    Controller c{ui};
};

class PtySession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Zi1sim::Available())
            GTEST_SKIP() << "zi1sim is not built";
    }
};

// Seconds from the first host byte `a` (at or after `from`) to the next host byte `b`.
double Gap(const std::vector<Zi1sim::Byte>& trace, uint8_t a, uint8_t b)
{
    double ta = -1;
    for (const Zi1sim::Byte& e : trace) {
        if (!e.fromHost)
            continue;
        if (ta < 0 && e.value == a)
            ta = e.seconds;
        else if (ta >= 0 && e.value == b)
            return e.seconds - ta;
    }
    return -1;
}

TEST_F(PtySession, AvrSessionAtHighSpeedKeepsItsPauses)
{
    SimSession s("ATmega8/8A", "");
    ASSERT_TRUE(s.sim.Ok());
    s.c.projectSettings.ResetStrobeLength = 50;
    ASSERT_TRUE(s.c.EnterProgrammingMode(1, 2)) << s.ui.LastStatus();
    EXPECT_EQ(s.sim.Baud(), 230400);  // really re-opened at the new speed
    EXPECT_EQ(s.ui.LastStatus(), Translate(1040));
    ASSERT_TRUE(s.c.LeaveProgrammingMode());
    s.sim.Stop();

    EXPECT_EQ(s.sim.HostBytes(),
              "25 40 26 02 3A 00 00 23 02 82 00 51 4C 55 4C 34 AC 53 00 00 2D 23 00 82 00 ");
    const auto trace = s.sim.Trace();
    EXPECT_GE(Gap(trace, 0x23, 0x51), 0.050 + 0.050 + 0.045 + 0.045);
    EXPECT_GE(Gap(trace, 'L', 'U'), 0.050);
    EXPECT_GE(Gap(trace, 'U', 'L'), 0.050);
    EXPECT_GE(Gap(trace, 'Q', '4'), 0.110);
    EXPECT_NE(s.sim.Dump().find("line 19200 bit/s"), std::string::npos) << s.sim.Dump();
}

TEST_F(PtySession, SynchronisationVariants)
{
    {
        SimSession s("ATmega8/8A", "star=1");
        EXPECT_TRUE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_TRUE(s.c.LeaveProgrammingMode());
    }
    {
        SimSession s("ATmega8/8A", "garbage=00");
        EXPECT_TRUE(s.c.EnterProgrammingMode(1, 0)) << s.ui.LastStatus();
        EXPECT_TRUE(s.c.LeaveProgrammingMode());
        s.sim.Stop();
        EXPECT_EQ(s.sim.HostBytes().rfind("25 25 40 ", 0), 0u) << s.sim.HostBytes();
    }
    {
        SimSession s("ATmega8/8A", "firmware=0");
        EXPECT_FALSE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{Translate(1197)}));
        s.c.serialPort.Close();
        s.sim.Stop();
        EXPECT_EQ(s.sim.HostBytes(), "25 ");  // nothing more sent
    }
}

TEST_F(PtySession, FirmwareVersions)
{
    const std::pair<const char*, std::string> cases[] = {
        {"10b", "Version conflict.\nFW version: 1.0b\nRequired version 1.0c.\n"
                "Update version and try again."},
        {"ld2", Translate(1179)},
        {"err", Translate(1168)},
    };
    for (const auto& [version, box] : cases) {
        SCOPED_TRACE(version);
        SimSession s("ATmega8/8A", std::string("version=") + version);
        EXPECT_FALSE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{box}));
        EXPECT_EQ(s.c.bootloaderDetected, std::string(version) == "ld2");
        EXPECT_EQ(s.c.versionConflict, std::string(version) == "10b");
        EXPECT_FALSE(s.c.serialPort.IsOpen());
        s.sim.Stop();
        EXPECT_EQ(s.sim.HostBytes().substr(0, 9), "25 40 2D ");
    }
}

TEST_F(PtySession, At89s8253GetsItsSpiCodeAndPreparation)
{
    SimSession s("AT89S8253", "");
    s.c.projectSettings.SPIPeriod = 4;
    ASSERT_TRUE(s.c.EnterProgrammingMode(1, 0));
    EXPECT_TRUE(s.c.LeaveProgrammingMode());
    s.sim.Stop();
    EXPECT_EQ(s.sim.HostBytes(),
              "25 40 26 0C 3A 00 00 23 00 86 00 2B 34 AC 53 00 00 2D 23 00 86 00 ");
}

TEST_F(PtySession, ReadSignatureCases)
{
    {
        SimSession s("ATmega8/8A", "", "ATtiny13/13A");
        s.c.OnReadSignature();
        EXPECT_EQ(s.ui.LastStatus(), "Signature: 1E 93 07 - ATmega8/8A");
        EXPECT_EQ(s.c.CurrentDeviceIndex(), FindByName("ATmega8/8A"));
    }
    const std::pair<const char*, std::string> cases[] = {
        {"signature=1F0000", "Signature: 1F 00 00 - " + std::string(Translate(1079))},
        {"signature=FFFFFF", "Signature: FF FF FF - " + std::string(Translate(1081))},
        {"locked=1", Translate(1111)},
    };
    for (const auto& [options, status] : cases) {
        SCOPED_TRACE(options);
        SimSession s("ATmega8/8A", options);
        s.c.OnReadSignature();
        EXPECT_EQ(s.ui.LastStatus(), status);
        EXPECT_EQ(s.c.CurrentDeviceIndex(), FindByName("ATmega8/8A"));
    }
}

TEST_F(PtySession, CalibrationAndBoardInfo)
{
    {
        SimSession s("ATtiny13/13A", "cal=5A4F");
        s.c.OnReadCalibration();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{
                                 "Calibration bytes:\n\n    1 MHz: 0x5A\n    2 MHz: 0x4F"}));
        EXPECT_EQ(s.ui.LastStatus(), "Calibration bytes: 5A 4F");
    }
    {
        SimSession s("ATmega48A/48PA", "cal=A3");
        s.c.OnReadCalibration();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{"Calibration byte:\n\n    1 MHz: 0xA3"}));
    }
    {
        SimSession s("ATmega8/8A", "namelen=255,serial=0102030405");
        std::string name;
        std::array<uint8_t, 5> serial{};
        ASSERT_TRUE(s.c.ReadBoardInfo(&name, &serial, false));
        EXPECT_EQ(name.size(), 255u);
        EXPECT_EQ(serial, (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
    }
    {
        SimSession s("ATmega8/8A", "truncate=N:1");
        s.c.OnProgrammerInfo();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{Translate(1035)}));
    }
}

}  // namespace
}  // namespace zelko::test
