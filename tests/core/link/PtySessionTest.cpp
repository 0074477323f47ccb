// Whole sessions between the program's serial port and the board simulator
// across a real pseudo-terminal, in real time.
#include "core/link/LinkFixture.h"
#include "core/link/PtyHarness.h"

namespace zelko::test {
namespace {

struct PtySession {
    explicit PtySession(const std::string& options, const char* device = "ATmega8/8A")
        : link(options)
    {
        SetSleeper(nullptr);
        link.Connect(c);
        c.projectSettings.DeviceIndex = FindByName(device);
    }
    std::vector<std::string> Boxes() const { return ui.Texts(UiEvent::Box); }
    // The board, locked against the thread that serves the pty.
    struct Locked {
        std::unique_lock<std::mutex> lock;
        sim::SimBoard* board;
        sim::SimBoard* operator->() const { return board; }
        sim::SimBoard& operator*() const { return *board; }
    };
    Locked Board() { return {std::unique_lock(link.board->Mutex()), link.board.get()}; }

    RecordingUi ui;
    Controller c{ui};
    PtyBoard link;
};

// Seconds between the first host byte `a` and the first host byte `b` after it.
double Gap(const sim::SimBoard& board, uint8_t a, uint8_t b, double from = 0)
{
    double ta = -1;
    for (const sim::TraceEntry& e : board.Trace()) {
        if (!e.fromHost || e.seconds < from)
            continue;
        if (ta < 0 && e.byte == a)
            ta = e.seconds;
        else if (ta >= 0 && e.byte == b)
            return e.seconds - ta;
    }
    return -1;
}

TEST(PtySession, AvrSessionAtHighSpeedKeepsItsPauses)
{
    PtySession s("");
    ASSERT_TRUE(s.link.ok);
    s.c.projectSettings.ResetStrobeLength = 50;
    ASSERT_TRUE(s.c.EnterProgrammingMode(1, 2)) << s.ui.LastStatus();
    EXPECT_EQ(s.link.pty.Baud(), 230400);
    EXPECT_EQ(s.Board()->LineBaud(), 230400);
    EXPECT_EQ(s.Board()->ModePacket(), (std::array<uint8_t, 3>{2, 0x82, 0}));
    EXPECT_EQ(s.ui.LastStatus(), Translate(1040));
    // Reset strobe: 'L', 50 ms, 'U', 50 ms, 'L', 10 ms, programming enable.
    EXPECT_GE(Gap(*s.Board(), 'L', 'U'), 0.050);
    EXPECT_GE(Gap(*s.Board(), 'U', 'L'), 0.050);
    EXPECT_GE(Gap(*s.Board(), 'Q', '4'), 0.110);
    EXPECT_TRUE(s.Board()->Chip().ProgrammingEnabled());

    ASSERT_TRUE(s.c.LeaveProgrammingMode());
    EXPECT_EQ(s.Board()->LineBaud(), 19200);
    EXPECT_FALSE(s.c.serialPort.IsOpen());
}

TEST(PtySession, SynchronisationVariants)
{
    {
        PtySession s("star=1");
        EXPECT_TRUE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_TRUE(s.c.LeaveProgrammingMode());
    }
    {
        PtySession s("garbage=00");
        EXPECT_TRUE(s.c.EnterProgrammingMode(1, 0)) << s.ui.LastStatus();
        EXPECT_EQ(s.Board()->CommandCount('%'), 2);
        EXPECT_TRUE(s.c.LeaveProgrammingMode());
    }
    {
        PtySession s("firmware=0");
        EXPECT_FALSE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{Translate(1197)}));
        EXPECT_EQ(s.Board()->CommandCount('%'), 1);
        EXPECT_EQ(s.Board()->CommandCount('@'), 0);
    }
}

TEST(PtySession, FirmwareVersions)
{
    const std::pair<const char*, std::string> cases[] = {
        {"10b", "Version conflict.\nFW version: 1.0b\nRequired version 1.0c.\n"
                "Update version and try again."},
        {"ld2", Translate(1179)},
        {"err", Translate(1168)},
    };
    for (const auto& [version, box] : cases) {
        SCOPED_TRACE(version);
        PtySession s(std::string("version=") + version);
        EXPECT_FALSE(s.c.EnterProgrammingMode(1, 0));
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{box}));
        EXPECT_EQ(s.c.bootloaderDetected, std::string(version) == "ld2");
        EXPECT_EQ(s.c.versionConflict, std::string(version) == "10b");
        EXPECT_EQ(s.Board()->CommandCount('&'), 0);
        EXPECT_FALSE(s.c.serialPort.IsOpen());
    }
}

TEST(PtySession, At89s8253GetsItsSpiCodeAndPreparation)
{
    PtySession s("device=AT89S8253", "AT89S8253");
    s.c.projectSettings.SPIPeriod = 4;
    ASSERT_TRUE(s.c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(s.Board()->ModePacket()[1], 0x86);
    EXPECT_EQ(s.Board()->CommandCount('+'), 1);
    EXPECT_EQ(s.Board()->CommandCount('Q'), 0);
    EXPECT_TRUE(s.c.LeaveProgrammingMode());
}

TEST(PtySession, ReadSignatureCases)
{
    {
        PtySession s("device=ATmega8/8A", "ATtiny13/13A");
        s.c.comPort = 1;
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
        PtySession s(options);
        s.c.OnReadSignature();
        EXPECT_EQ(s.ui.LastStatus(), status);
        EXPECT_EQ(s.c.CurrentDeviceIndex(), FindByName("ATmega8/8A"));
    }
}

TEST(PtySession, CalibrationAndBoardInfo)
{
    {
        PtySession s("device=ATtiny13/13A,cal=5A4F", "ATtiny13/13A");
        s.c.OnReadCalibration();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{
                                 "Calibration bytes:\n\n    1 MHz: 0x5A\n    2 MHz: 0x4F"}));
        EXPECT_EQ(s.ui.LastStatus(), "Calibration bytes: 5A 4F");
    }
    {
        PtySession s("device=ATmega48A/48PA,cal=A3", "ATmega48A/48PA");
        s.c.OnReadCalibration();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{"Calibration byte:\n\n    1 MHz: 0xA3"}));
    }
    {
        PtySession s("namelen=255,serial=0102030405");
        std::string name;
        std::array<uint8_t, 5> serial{};
        ASSERT_TRUE(s.c.ReadBoardInfo(&name, &serial, false));
        EXPECT_EQ(name.size(), 255u);
        EXPECT_EQ(name, s.Board()->Config().name);
        EXPECT_EQ(serial, (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
    }
    {
        PtySession s("truncate=N:1");
        s.c.OnProgrammerInfo();
        EXPECT_EQ(s.Boxes(), (std::vector<std::string>{Translate(1035)}));
    }
}

}  // namespace
}  // namespace zelko::test
