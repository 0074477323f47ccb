// The memory commands end to end against the simulated board: what reaches
// the chip, what the user is told, the result indicators.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/app/Messages.h"
#include "core/operations/SimBench.h"
#include "core/operations/ZI1Operations.h"

namespace zelko {
namespace {

using test::Contains;
using test::SimBench;
using test::UiEvent;

std::vector<uint8_t> Pattern(size_t n, int seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>((i * 13 + seed) ^ (i >> 8));
    return v;
}

bool Has(const std::vector<std::string>& texts, const std::string& t)
{
    return std::find(texts.begin(), texts.end(), t) != texts.end();
}

// Program, verify, read back and blank-check each kind of device. The
// ATmega2560 image has data only above 128 KiB: without the extended address
// its program, read, verify or blank check would miss it.
TEST(MemoryCommandsTest, ProgramVerifyReadRoundTrip)
{
    struct Case {
        const char* device;
        size_t flashAt, flashLen, eepromLen;
    };
    const Case cases[] = {
        {"ATmega8/8A", 0, 3000, 300},
        {"ATmega2560/2561", 0x20000, 700, 100},
        {"AT86RF401", 0, 2048, 128},      // no pages: Flash in blocks
        {"AT89S51", 0, 300, 0},           // byte by byte, no EEPROM
        {"AT89S8253", 0, 1000, 200},      // blocks
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.device);
        SimBench<> b(std::string("device=") + k.device);
        b.board->SetTraceEnabled(false);  // 256 KiB read three times
        Controller& c = b.c;
        const DeviceRecord& d = c.SelectedDevice();

        c.OnBlankCheck();
        EXPECT_EQ(c.LastCommandResult, 0);
        EXPECT_EQ(b.ui.LastStatus(), "Blank check: Flash is blank");

        std::vector<uint8_t> flash(k.flashAt + k.flashLen, 0xFF);
        const auto data = Pattern(k.flashLen, 1);
        std::copy(data.begin(), data.end(), flash.begin() + k.flashAt);
        c.flashBuffer.SetContents(flash, Loaded);
        c.OnProgramFlash();
        ASSERT_EQ(c.LastCommandResult, 0) << b.ui.LastStatus();
        EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Status),
                        Format(1052, static_cast<int>(flash.size()))));
        {
            std::lock_guard lock(b.board->Mutex());
            const auto& chip = b.board->Chip().Flash();
            ASSERT_TRUE(std::equal(flash.begin(), flash.end(), chip.begin()));
        }

        c.OnVerifyFlash();
        EXPECT_EQ(c.LastCommandResult, 0);
        EXPECT_TRUE(c.FlashVerifyPassed);
        EXPECT_EQ(b.ui.LastStatus(), Format(1053, static_cast<int>(flash.size())));

        c.OnBlankCheck();
        EXPECT_EQ(c.LastCommandResult, 1) << "data above 128 KiB must be seen";
        EXPECT_EQ(b.ui.LastStatus(), "Blank check: Flash is not empty");

        c.flashBuffer.SetContents({}, Loaded);
        c.OnReadFlash();
        ASSERT_EQ(c.flashBuffer.Length, d.flashSize);
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), c.flashBuffer.Data.begin()));
        EXPECT_TRUE(std::all_of(c.flashBuffer.Data.begin() + flash.size(), c.flashBuffer.Data.end(),
                                [](uint8_t v) { return v == 0xFF; }));
        EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Status), "Flash read: OK"));

        // A changed byte in the image is found at its offset.
        const size_t diff = k.flashAt + k.flashLen - 1;
        flash[diff] ^= 0x01;
        c.flashBuffer.SetContents(flash, Loaded);
        c.OnVerifyFlash();
        EXPECT_EQ(c.LastCommandResult, -1);
        EXPECT_FALSE(c.FlashVerifyPassed);
        EXPECT_EQ(c.FirstMismatch, static_cast<int>(diff));
        EXPECT_EQ(b.ui.LastStatus(), Format(1054, static_cast<int>(diff), static_cast<int>(diff)));

        if (k.eepromLen == 0) {
            c.eepromBuffer.SetContents(Pattern(10, 2), Loaded);
            c.OnProgramEeprom();
            EXPECT_EQ(b.ui.LastStatus(), Translate(1102));
            EXPECT_EQ(c.LastCommandResult, -1);
            continue;
        }
        const auto eeprom = Pattern(k.eepromLen, 3);
        c.eepromBuffer.SetContents(eeprom, Loaded);
        c.OnProgramEeprom();
        ASSERT_EQ(c.LastCommandResult, 0) << b.ui.LastStatus();
        c.OnVerifyEeprom();
        EXPECT_TRUE(c.EepromVerifyPassed);
        c.OnReadEeprom();
        ASSERT_EQ(c.eepromBuffer.Length, d.eepromSize);
        EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), c.eepromBuffer.Data.begin()));
        EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Status), "Read Eeprom: OK"));
    }
}

// A chip whose only data lies above 128 KiB is not blank. Without the extended
// address before each block, the check would read the lower half twice.
TEST(MemoryCommandsTest, BlankCheckSeesDataAbove128KiB)
{
    SimBench<> b("device=ATmega2560/2561");
    b.board->SetTraceEnabled(false);
    {
        std::lock_guard lock(b.board->Mutex());
        b.board->Chip().Flash()[0x3FFFF] = 0x00;
    }
    b.c.OnBlankCheck();
    EXPECT_EQ(b.c.LastCommandResult, 1);
    EXPECT_EQ(b.ui.LastStatus(), "Blank check: Flash is not empty");
}

TEST(MemoryCommandsTest, ErasedPagesAreSkippedUnlessDisabled)
{
    for (bool noSkip : {false, true}) {
        SimBench<> b;
        std::vector<uint8_t> flash(8192, 0xFF);
        flash[100] = 0x00;
        b.c.flashBuffer.SetContents(flash, Loaded);
        b.c.projectSettings.NoSynchronization = noSkip;
        b.c.OnProgramFlash();
        ASSERT_EQ(b.c.LastCommandResult, 0);
        std::lock_guard lock(b.board->Mutex());
        EXPECT_EQ(b.board->Chip().PageWrites(), noSkip ? 128 : 1);
    }
}

TEST(MemoryCommandsTest, EmptyBuffersAreRefusedBeforeTheBoardIsTouched)
{
    struct Case {
        const char* device;
        void (Controller::*command)();
        int message;
    };
    const Case cases[] = {
        {"ATmega8/8A", &Controller::OnProgramFlash, 1091},
        {"ATmega8/8A", &Controller::OnVerifyFlash, 1091},
        {"ATmega8/8A", &Controller::OnProgramEeprom, 1101},
        {"ATmega8/8A", &Controller::OnVerifyEeprom, 1101},
        {"AT89S51", &Controller::OnProgramEeprom, 1102},  // even with an image loaded
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.message);
        SimBench<> b(std::string("device=") + k.device);
        if (k.message == 1102)
            b.c.eepromBuffer.SetContents({1, 2, 3}, Loaded);
        b.c.LastCommandResult = 0;
        (b.c.*k.command)();
        EXPECT_EQ(b.ui.LastStatus(), Translate(k.message));
        EXPECT_EQ(b.c.LastCommandResult, -1);
        EXPECT_TRUE(b.HostBytes().empty());
        EXPECT_EQ(b.ui.Count(UiEvent::Box), 0);
    }
}

TEST(MemoryCommandsTest, NoPortConfigured)
{
    SimBench<> b;
    b.c.comPort = 0;
    b.c.flashBuffer.SetContents({1, 2}, Loaded);
    b.c.OnProgramFlash();
    EXPECT_EQ(b.ui.Texts(UiEvent::Box), std::vector<std::string>{Translate(1032)});
    EXPECT_EQ(b.ui.LastStatus(), Translate(1031));
    EXPECT_EQ(b.ui.waitCursorDepth, 0);
}

// The length question of the command: OK programs the chip's size, Cancel
// sends nothing and reports the cancel.
TEST(MemoryCommandsTest, LengthQuestion)
{
    for (bool ok : {true, false}) {
        SCOPED_TRACE(ok);
        SimBench<> b;
        b.c.eepromBuffer.SetContents(Pattern(600, 4), Loaded);
        b.ui.answers = {ok};
        b.c.OnProgramEeprom();
        std::lock_guard lock(b.board->Mutex());
        if (ok) {
            EXPECT_EQ(b.c.LastCommandResult, 0);
            EXPECT_EQ(b.ui.LastStatus(), Format(1055, 512));
            EXPECT_EQ(b.board->CommandCount('>'), 8);
        } else {
            EXPECT_EQ(b.c.LastCommandResult, -1);
            EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Status), Translate(1094)));
            EXPECT_EQ(b.ui.Count(UiEvent::Box), 0);
            EXPECT_EQ(b.board->CommandCount('>'), 0);
            EXPECT_EQ(b.board->CommandCount('W'), 0);
        }
        EXPECT_FALSE(b.c.serialPort.IsOpen());
        EXPECT_FALSE(b.c.eepromBuffer.Busy);
    }
}

TEST(MemoryCommandsTest, ChipErase)
{
    struct Case {
        const char* what;
        std::string options;
        int result;
        std::vector<std::string> lastStatuses;  // the tail of the status lines
        std::vector<std::string> boxes;
        const char* deviceAfter;
    };
    const Case cases[] = {
        {"plain", "", 0,
         {"Chip erased; signature: 1E 93 07 - ATmega8/8A", "Device erased"}, {}, "ATmega8/8A"},
        {"locked, erase helps", "locked=1", 0,
         {"Chip erased; signature: 1E 93 07 - ATmega8/8A", "Device erased"}, {}, "ATmega8/8A"},
        {"locked for good", "locked=1,stuck=1", -1,
         {"Chip not erased - device is locked"}, {Translate(1045)}, "ATmega8/8A"},
        {"another device answers", "signature=1E930A", 0,
         {"Chip erased; signature: 1E 93 0A - ATmega88A/88PA", "Device erased"}, {}, nullptr},
        {"record sharing its signature stays selected", "device=ATA6602/6612", 0,
         {"Chip erased; signature: 1E 93 0A - ATA6602/6612", "Device erased"}, {}, "ATA6602/6612"},
        {"signature read-back fails", "noreply=5:2", 0,
         {"Connection accepted", Translate(1042)}, {Translate(1078)}, "ATmega8/8A"},
        {"erase not acknowledged", "noreply=4:2", -1,
         {Translate(1027)}, {Translate(1027)}, "ATmega8/8A"},
        {"AT89S: no signature check", "device=AT89S51", 0, {"Device erased"}, {}, "AT89S51"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SimBench<> b(k.options);
        {
            std::lock_guard lock(b.board->Mutex());
            std::fill(b.board->Chip().Flash().begin(), b.board->Chip().Flash().begin() + 10, 0);
        }
        b.c.OnChipErase();
        EXPECT_EQ(b.c.LastCommandResult, k.result);
        const auto status = b.ui.Texts(UiEvent::Status);
        ASSERT_GE(status.size(), k.lastStatuses.size());
        EXPECT_EQ(std::vector<std::string>(status.end() - k.lastStatuses.size(), status.end()),
                  k.lastStatuses);
        EXPECT_EQ(b.ui.Texts(UiEvent::Box), k.boxes);
        const char* expectedDevice = k.deviceAfter;
        if (!expectedDevice) {
            const int found = FindBySignature(0x1E, 0x93, 0x0A);
            ASSERT_GE(found, 0);
            expectedDevice = DeviceAt(found).name;
            EXPECT_NE(std::string(expectedDevice), "ATmega8/8A");
        }
        EXPECT_STREQ(b.c.SelectedDevice().name, expectedDevice);
        EXPECT_FALSE(b.c.serialPort.IsOpen());
        EXPECT_EQ(b.ui.waitCursorDepth, 0);
    }
}

TEST(MemoryCommandsTest, ChipEraseOfAnATtiny26WritesWordZeroBetweenTwoErases)
{
    SimBench<> b("device=ATtiny26");
    b.c.OnChipErase();
    EXPECT_EQ(b.c.LastCommandResult, 0);
    EXPECT_TRUE(Contains(b.HostBytes(), {'4', 0xAC, 0x80, 0x04, 0x00, '4', 0x40, 0x00, 0x00, 0xFF,
                                         '4', 0xAC, 0x80, 0x04, 0x00}));
    // 7 ms between the first erase and the write; 10 ms, then 15 ms, after
    // the second; 85 ms before the signature is read.
    const auto s = b.Sleeps();
    const auto seven = std::find(s.begin(), s.end(), 7);
    ASSERT_NE(seven, s.end());
    const std::vector<int> settle = {10, 15};
    const auto after = std::search(seven, s.end(), settle.begin(), settle.end());
    ASSERT_NE(after, s.end());
    EXPECT_NE(std::find(after, s.end(), 85), s.end());
}

// "Auto check signature" before programming: the chip's answers and the
// user's.
TEST(MemoryCommandsTest, ProgramFlashChecksTheSignature)
{
    struct Case {
        const char* what;
        std::string options;
        std::deque<bool> answers;
        std::vector<std::string> questions;
        int result;
        bool programmed;
    };
    const std::string mismatch = Translate(1048);
    const std::string locked = Translate(1050);
    const Case cases[] = {
        {"matches", "", {}, {}, 0, true},
        {"other chip, go on", "signature=1E9307,device=ATmega16/16A", {true}, {mismatch}, 0, true},
        {"other chip, stop", "signature=1E930A", {false}, {mismatch}, -1, false},
        {"locked, erase", "locked=1", {true}, {locked}, 0, true},
        {"locked, leave it", "locked=1", {false}, {locked}, -1, false},
        {"AT89S with another signature: no question", "device=AT89S51,signature=1E5207", {}, {}, 0, true},
        {"record sharing its signature with an earlier one", "device=ATA6602/6612", {}, {}, 0, true},
        {"signature unreadable", "noreply=5:1", {}, {}, -1, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SimBench<> b(k.options);
        b.c.projectSettings.CheckSign = true;
        b.ui.answers = k.answers;
        const auto image = Pattern(200, 9);
        b.c.flashBuffer.SetContents(image, Loaded);
        b.c.OnProgramFlash();
        EXPECT_EQ(b.c.LastCommandResult, k.result) << b.ui.LastStatus();
        EXPECT_EQ(b.ui.Texts(UiEvent::YesNo), k.questions);
        std::lock_guard lock(b.board->Mutex());
        const auto& chip = b.board->Chip().Flash();
        EXPECT_EQ(std::equal(image.begin(), image.end(), chip.begin()), k.programmed);
        if (std::string(k.what) == "signature unreadable") {
            EXPECT_EQ(b.ui.LastStatus(), Translate(1047));
            EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Box), Translate(1047)));
        }
        if (!k.programmed && !k.answers.empty()) {
            EXPECT_EQ(b.ui.LastStatus(), Translate(1083));
        }
        EXPECT_FALSE(b.c.serialPort.IsOpen());
    }
}

// The erase of a locked chip is given its time before programming starts:
// the session's last pause (10 ms before programming enable) is followed by
// the erase's 10 and 15 ms, then the first page's write time.
TEST(MemoryCommandsTest, ProgramFlashWaitsAfterErasingALockedChip)
{
    const std::vector<int> withErase = {10, 10, 15, 15};
    for (bool locked : {true, false}) {
        SCOPED_TRACE(locked);
        SimBench<> b(locked ? "locked=1" : "");
        b.c.projectSettings.CheckSign = true;
        b.ui.answers = {true};
        b.c.flashBuffer.SetContents(Pattern(64, 1), Loaded);
        b.c.OnProgramFlash();
        ASSERT_EQ(b.c.LastCommandResult, 0);
        const auto s = b.Sleeps();
        EXPECT_EQ(std::search(s.begin(), s.end(), withErase.begin(), withErase.end()) != s.end(),
                  locked);
    }
}

TEST(MemoryCommandsTest, SerialNumberStepsAfterEveryRunOfTheOperation)
{
    for (const char* options : {"", "pollfail=1"}) {
        SCOPED_TRACE(options);
        SimBench<> b(options);
        b.c.projectSettings.AutoIncrementFlash = true;
        b.c.projectSettings.AutoIncAddressFlash = 3;
        b.c.flashBuffer.SetContents({0x11, 0x22, 0x00, 0x09}, Loaded);
        b.c.flashBuffer.FileName = "/tmp/x.hex";
        b.c.OnProgramFlash();
        EXPECT_EQ(b.c.flashBuffer.Data[3], 0x0A);
    }
    // ... but not when the command stopped before it ran.
    SimBench<> b;
    b.c.comPort = 0;
    b.c.projectSettings.AutoIncrementFlash = true;
    b.c.flashBuffer.SetContents({0x09}, Loaded);
    b.c.flashBuffer.FileName = "/tmp/x.hex";
    b.c.OnProgramFlash();
    EXPECT_EQ(b.c.flashBuffer.Data[0], 0x09);
}

TEST(MemoryCommandsTest, PollingFailureIsReportedAsSuch)
{
    SimBench<> b("pollfail=2");
    b.c.eepromBuffer.SetContents(Pattern(200, 1), Loaded);
    b.c.OnProgramEeprom();
    EXPECT_EQ(b.c.LastCommandResult, -1);
    EXPECT_EQ(b.ui.Texts(UiEvent::Box), std::vector<std::string>{Translate(1164)});
    EXPECT_EQ(b.ui.LastStatus(), Translate(1164));
    const auto& states = b.c.eepromBuffer.States;
    EXPECT_EQ(std::count(states.begin(), states.end(), Programmed), 64);
}

TEST(MemoryCommandsTest, ReadOnAFailingLinkStillReportsTheLength)
{
    SimBench<> b("device=ATmega328PB,noreply=}:1");
    b.c.OnReadFlash();
    const auto status = b.ui.Texts(UiEvent::Status);
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status[status.size() - 2], "Flash read: ERROR");
    EXPECT_EQ(status.back(), "Flash length: 32768 (0x8000) bytes, Checksum = 0x8000");
    EXPECT_EQ(b.ui.Texts(UiEvent::Box),
              (std::vector<std::string>{"Connection error", Translate(1087)}));
}

}  // namespace
}  // namespace zelko
