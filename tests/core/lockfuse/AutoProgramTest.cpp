// Lock/fuse bits and the auto-program sequence end to end, against the
// simulated board in this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/devices/LockFuseTable.h"
#include "core/link/Clock.h"
#include "sim/SimBoard.h"
#include "sim/SimTransport.h"
#include "support/TestSupport.h"

namespace zelko::test {
namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

// A controller wired to a simulated board; the protocol's pauses take no time.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::ResetSimBoards();
        SetSleeper([](int) {});
        c.comPort = 1;
        c.projectSettings.Log = (dir / "project.log").string();
    }
    void TearDown() override
    {
        SetSleeper(nullptr);
        EXPECT_FALSE(c.serialPort.IsOpen());
        EXPECT_EQ(ui.waitCursorDepth, 0);
        sim::ResetSimBoards();
    }

    // Selects `device` and puts it on a fresh simulated board with the given
    // options (as zi1sim takes them).
    sim::SimBoard& Board(const std::string& device, const std::string& options = "")
    {
        sim::ResetSimBoards();
        board.reset();
        spec = "sim:" + device;
        if (!options.empty())
            spec += "," + options;
        c.projectSettings.DeviceIndex = FindByName(device);
        EXPECT_GE(c.projectSettings.DeviceIndex, 0) << device;
        c.serialPort.SetTransportFactory([this](int, std::string& name) {
            name = spec;
            return sim::MakeSimTransport(spec, c.CurrentDeviceIndex());
        });
        std::string error;
        board = sim::SimBoardFor(spec, c.CurrentDeviceIndex(), error);
        EXPECT_TRUE(board) << error;
        return *board;
    }

    const LockFuseTable& Table() const
    {
        return LockFuseTableAt(c.SelectedDevice().lockFuseTableIndex);
    }
    int FuseIndex(const std::string& name) const
    {
        for (int i = 0; i < Table().fuseCount; ++i)
            if (name == Table().fuseNames[static_cast<size_t>(i)])
                return i;
        ADD_FAILURE() << "no fuse " << name;
        return 0;
    }
    // Loads a buffer from a binary file of these bytes.
    void Load(bool eeprom, const std::vector<uint8_t>& bytes, const std::string& name)
    {
        WriteFile(dir / name, std::string(bytes.begin(), bytes.end()));
        ASSERT_TRUE(c.LoadFile(c.Buffer(eeprom), (dir / name).string()));
        ASSERT_EQ(c.Buffer(eeprom).Length, static_cast<int>(bytes.size()));
    }

    std::vector<std::string> Statuses() const { return ui.Texts(UiEvent::Status); }
    std::vector<std::string> Boxes() const { return ui.Texts(UiEvent::Box); }
    int CountStatus(const std::string& text) const
    {
        const auto s = Statuses();
        return static_cast<int>(std::count(s.begin(), s.end(), text));
    }
    std::string LogText() const { return ReadFile(dir / "project.log"); }

    TempDir dir;
    RecordingUi ui;
    Controller c{ui};
    std::string spec;
    std::shared_ptr<sim::SimBoard> board;
};

// ---- Lock and fuse round trips ---------------------------------------------

TEST_F(SimFixture, LockFuseProgramReadVerifyRoundTrips)
{
    struct Case {
        const char* device;
        int lockMode;
        std::vector<std::string> fuses;
        std::vector<int> bootLocks;
    };
    const Case cases[] = {
        {"ATmega328/328P", 0, {"CKSEL0", "CKSEL2", "CKSEL3", "SPIEN", "BODLEVEL1"}, {}},
        {"ATmega328/328P", 2, {"SPIEN"}, {1, 0, 0, 1}},
        {"ATmega8/8A", 1, {"SPIEN", "BOOTSZ0"}, {0, 1}},
        {"ATtiny13/13A", 0, {"SPIEN", "CKDIV8"}, {}},
        {"ATmega2560/2561", 0, {"SPIEN", "JTAGEN", "BODLEVEL0"}, {}},
        {"AT89S51", 2, {}, {}},
        {"AT89S52", 3, {}, {}},
        {"AT89S2051", 1, {}, {}},
        {"AT89S8253", 2, {"SerialPrgEn", "Extern Clock En"}, {}},
        {"AT89S8253", 0, {"SerialPrgEn"}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.device) + " mode " + std::to_string(k.lockMode));
        Board(k.device);
        LockFuseSettings s;
        s.lockMode = k.lockMode;
        for (const std::string& f : k.fuses)
            s.fuses[static_cast<size_t>(FuseIndex(f))] = 1;
        for (size_t j = 0; j < k.bootLocks.size(); ++j)
            s.bootLocks[j] = static_cast<uint8_t>(k.bootLocks[j]);

        ui.Clear();
        ASSERT_TRUE(c.ProgramLockFuse(s, false));
        EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1109)});

        LockFuseSettings r;
        ASSERT_TRUE(c.ReadLockFuse(r));
        EXPECT_TRUE(r.readable);
        EXPECT_EQ(r.lockMode, s.lockMode);
        EXPECT_EQ(r.fuses, s.fuses);
        EXPECT_EQ(r.bootLocks, s.bootLocks);

        ui.Clear();
        c.VerifyLockFuse(s);
        EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1159)});
    }
}

TEST_F(SimFixture, LockFuseReadOfAChipThatCannotReportItsBits)
{
    Board("AT86RF401");
    LockFuseSettings s;
    s.lockMode = 1;
    ASSERT_TRUE(c.ProgramLockFuse(s, false));
    ui.Clear();
    LockFuseSettings r;
    EXPECT_TRUE(c.ReadLockFuse(r));
    EXPECT_EQ(r, LockFuseSettings{});
    EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1059)});
}

TEST_F(SimFixture, LockFuseVerifyNamesTheDifference)
{
    Board("ATmega8/8A", "hfuse=0xD9");
    LockFuseSettings expected;
    expected.fuses[static_cast<size_t>(FuseIndex("SPIEN"))] = 1;
    expected.fuses[static_cast<size_t>(FuseIndex("BOOTSZ0"))] = 1;
    expected.fuses[static_cast<size_t>(FuseIndex("BOOTSZ1"))] = 1;
    expected.fuses[static_cast<size_t>(FuseIndex("EESAVE"))] = 1;
    c.VerifyLockFuse(expected);
    EXPECT_EQ(Boxes(),
              std::vector<std::string>{std::string(Translate(1160)) + Format(1162, "EESAVE")});
}

// ---- The auto-program sequence ---------------------------------------------

TEST_F(SimFixture, NothingEnabled)
{
    Board("ATmega8/8A");
    c.RunAutoProgram(false);
    EXPECT_EQ(Statuses(), (std::vector<std::string>{Translate(1121), Translate(1133)}));
    EXPECT_FALSE(c.autoProgramOk);
    const std::vector<std::string> log = Lines(LogText());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        log[0], std::regex(R"(Autoprogram \[Unspecified\] at \d{4}/\d\d/\d\d \d\d:\d\d:\d\d)")))
        << log[0];
}

TEST_F(SimFixture, NoBoardConfigured)
{
    Board("ATmega8/8A");
    c.comPort = 0;
    c.projectSettings.AutoErase = true;
    c.projectSettings.ProgramFuse = true;
    c.RunAutoProgram(false);
    const std::vector<std::string> log = Lines(LogText());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], Translate(1031));
    EXPECT_EQ(log[2], Translate(1032));
    EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1032)});
    EXPECT_EQ(board->Chip().ChipErases(), 0);
}

TEST_F(SimFixture, FusesOnlyWritesTheBitsButIsNoAction)
{
    sim::SimBoard& b = Board("ATmega8/8A");
    ProjectSettings& p = c.projectSettings;
    p.ProgramFuse = true;
    ApplyRecommendedPresets(Table(), p.LockFuse);
    p.LockFuse.fuses[0] = 1;  // CKSEL0
    c.RunAutoProgram(false);
    EXPECT_EQ(b.Chip().FuseByteValue(FuseByte::Low), 0xFE);
    EXPECT_EQ(b.Chip().FuseByteValue(FuseByte::High), 0xDF);
    EXPECT_EQ(CountStatus(Translate(1131)), 1);
    EXPECT_EQ(Statuses().back(), Translate(1133));
    EXPECT_FALSE(c.autoProgramOk);
}

TEST_F(SimFixture, TypicalRun)
{
    sim::SimBoard& b = Board("ATmega8/8A", "lfuse=0xE1");
    b.Chip().Flash()[10] = 0x00;  // something for the erase to clear
    ProjectSettings& p = c.projectSettings;
    p.AutoErase = p.AutoFlashProgram = p.AutoFlashVerify = p.ProgramFuse = true;
    ApplyRecommendedPresets(Table(), p.LockFuse);
    std::vector<uint8_t> image(300);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    Load(false, image, "app.bin");
    Load(true, {1, 2, 3}, "data.bin");
    p.ResetStrobeLength = 200;
    // The pause before each step is the project's reset strobe length.
    std::mutex mutex;
    std::vector<int> pauses;
    SetSleeper([&](int ms) {
        std::lock_guard lock(mutex);
        if (ui.LastStatus() == Translate(1180))
            pauses.push_back(ms);
    });

    c.RunAutoProgram(false);
    SetSleeper([](int) {});
    EXPECT_EQ(pauses, (std::vector<int>{200, 200, 200}));
    EXPECT_TRUE(c.autoProgramOk);
    const std::vector<std::string> st = Statuses();
    EXPECT_EQ(st.front(), Translate(1121));
    EXPECT_EQ(st.back(), Format(1064, 300));
    EXPECT_EQ(CountStatus(Translate(1180)), 3);  // before erase, program and verify
    // The fuses come last.
    const auto fuses = std::find(st.begin(), st.end(), Translate(1131));
    ASSERT_NE(fuses, st.end());
    EXPECT_EQ(std::count(fuses, st.end(), Translate(1180)), 0);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.Chip().Flash().begin()));
    EXPECT_EQ(b.Chip().Flash()[image.size() + 10], 0xFF);
    EXPECT_EQ(b.Chip().FuseByteValue(FuseByte::Low), 0xFF);
    EXPECT_EQ(b.Chip().Eeprom()[0], 0xFF);  // no EEPROM step was enabled
    // The final confirmation of the lock and fuse step.
    EXPECT_EQ(Boxes().back(), Translate(1109));
}

TEST_F(SimFixture, FusesFirstComeBeforeTheMemories)
{
    Board("ATmega8/8A");
    ProjectSettings& p = c.projectSettings;
    p.AutoFlashProgram = p.ProgramFuse = p.ProgramFuseBeforeAll = true;
    ApplyRecommendedPresets(Table(), p.LockFuse);
    Load(false, {0x11, 0x22}, "app.bin");
    c.RunAutoProgram(false);
    const std::vector<std::string> st = Statuses();
    const auto fuses = std::find(st.begin(), st.end(), Translate(1131));
    const auto pause = std::find(st.begin(), st.end(), Translate(1180));
    ASSERT_NE(fuses, st.end());
    EXPECT_LT(fuses, pause);
    EXPECT_EQ(st.back(), Format(1064, 2));
}

TEST_F(SimFixture, EepromCounterStepsOnlyAfterItsStepsSucceeded)
{
    sim::SimBoard& b = Board("ATmega8/8A");
    ProjectSettings& p = c.projectSettings;
    p.AutoEepromProgram = p.AutoEepromVerify = p.AutoIncrement = true;
    p.AutoIncAddress = 2;
    Load(true, {0xAA, 0x12, 0xFF, 0x55}, "serial.bin");

    c.RunAutoProgram(false);
    EXPECT_TRUE(c.autoProgramOk);
    EXPECT_EQ(Statuses().back(), Format(1065, 4));
    // The chip got the number before the step; the buffer holds the next one.
    EXPECT_EQ(std::vector<uint8_t>(b.Chip().Eeprom().begin(), b.Chip().Eeprom().begin() + 4),
              (std::vector<uint8_t>{0xAA, 0x12, 0xFF, 0x55}));
    EXPECT_EQ(c.eepromBuffer.Data, (std::vector<uint8_t>{0xAA, 0x13, 0x00, 0x55}));
    EXPECT_TRUE(p.AutoIncrement);
    // Stepped once, by the sequence only (Program EEPROM was kept from it).
    EXPECT_EQ(c.eepromBuffer.States[1], Changed);
    EXPECT_EQ(c.eepromBuffer.States[3], Verified);
}

TEST_F(SimFixture, CounterIsNotSteppedWhenVerifyFails)
{
    Board("ATmega8/8A", "truncate=<:1");
    ProjectSettings& p = c.projectSettings;
    p.AutoEepromProgram = p.AutoEepromVerify = p.AutoIncrement = true;
    p.AutoFlashProgram = true;
    p.AutoIncAddress = 2;
    Load(true, {0xAA, 0x12, 0xFF, 0x55}, "serial.bin");
    Load(false, {0x01, 0x02}, "app.bin");
    c.RunAutoProgram(false);
    EXPECT_FALSE(c.autoProgramOk);
    EXPECT_EQ(Statuses().back(), Translate(1130));
    EXPECT_EQ(c.eepromBuffer.Data, (std::vector<uint8_t>{0xAA, 0x12, 0xFF, 0x55}));
    EXPECT_TRUE(p.AutoIncrement);
    EXPECT_EQ(board->Chip().PageWrites(), 0);  // Flash never started
}

// A failure at each step ends the run with that step's message; nothing after
// it runs, and the counter flags are back as configured.
TEST_F(SimFixture, FailureAtEachStep)
{
    struct Case {
        const char* name;
        const char* options;
        std::function<void(ProjectSettings&)> enable;
        int message;
        std::function<void()> prepare;
    };
    auto all = [](ProjectSettings& p) {
        p.AutoErase = p.AutoEmptyCheck = true;
        p.AutoEepromReload = p.AutoEepromProgram = p.AutoEepromVerify = true;
        p.AutoFlashReload = p.AutoFlashProgram = p.AutoFlashVerify = true;
        p.AutoIncrement = p.AutoIncrementFlash = true;
    };
    auto noErase = [&](ProjectSettings& p) {
        all(p);
        p.AutoErase = false;
    };
    // Without the blank check, the first Flash block read is the verify's.
    auto noBlankCheck = [&](ProjectSettings& p) {
        all(p);
        p.AutoEmptyCheck = false;
    };
    const Case cases[] = {
        {"erase", "noreply=%:1", all, 1122, nullptr},
        {"blank check finds data", "", noErase, 1123,
         [this] { board->Chip().Flash()[100] = 0x00; }},
        {"blank check fails", "noreply=%:1", noErase, 1124, nullptr},
        {"EEPROM reload", "", all, 1128,
         [this] { std::filesystem::remove(dir / "e.bin"); }},
        {"EEPROM program", "noreply=>:1", all, 1129, nullptr},
        {"EEPROM verify", "truncate=<:1", all, 1130, nullptr},
        {"Flash reload", "", all, 1125,
         [this] { std::filesystem::remove(dir / "f.bin"); }},
        {"Flash program", "noreply={:1", all, 1126, nullptr},
        {"Flash verify", "truncate=}:1", noBlankCheck, 1127, nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Board("ATmega8/8A", k.options);
        c.projectSettings = ProjectSettings{};
        c.projectSettings.FlashBuffer = &c.flashBuffer;
        c.projectSettings.EepromBuffer = &c.eepromBuffer;
        c.projectSettings.DeviceIndex = FindByName("ATmega8/8A");
        k.enable(c.projectSettings);
        Load(true, {1, 2, 3, 4}, "e.bin");
        Load(false, {5, 6, 7, 8}, "f.bin");
        if (k.prepare)
            k.prepare();
        ui.Clear();
        c.autoProgramOk = false;
        c.RunAutoProgram(false);
        EXPECT_EQ(Statuses().back(), Translate(k.message));
        EXPECT_FALSE(c.autoProgramOk);
        EXPECT_TRUE(c.projectSettings.AutoIncrement);
        EXPECT_TRUE(c.projectSettings.AutoIncrementFlash);
        EXPECT_FALSE(c.serialPort.IsOpen());
    }
}

TEST_F(SimFixture, EnabledStepsOfAnEmptyBufferAreLogged)
{
    Board("ATmega8/8A");
    ProjectSettings& p = c.projectSettings;
    p.AutoErase = p.AutoFlashProgram = p.AutoFlashVerify = true;
    p.AutoEepromProgram = true;
    Load(true, {1, 2}, "e.bin");
    c.eepromBuffer.Data.clear();
    c.eepromBuffer.Length = 0;
    c.RunAutoProgram(false);
    const std::string log = LogText();
    EXPECT_NE(log.find(Translate(2061)), std::string::npos);
    EXPECT_NE(log.find(Translate(2060)), std::string::npos);
    EXPECT_EQ(Statuses().back(), Translate(1063));
    EXPECT_TRUE(c.autoProgramOk);

    // A memory with no step enabled is passed over without a word.
    ui.Clear();
    p.AutoFlashProgram = p.AutoFlashVerify = p.AutoEepromProgram = false;
    c.RunAutoProgram(false);
    EXPECT_EQ(CountStatus(Translate(2061)) + CountStatus(Translate(2060)), 0);
}

TEST_F(SimFixture, FailedLockFuseStepSpoilsTheVerdict)
{
    struct Case {
        const char* name;
        const char* options;
        bool before;
        int boxes1132;
    };
    const Case cases[] = {
        // The chip does not acknowledge the low fuse byte (the second '4' of the
        // first session, after programming enable).
        {"fuse write refused, first", "wrongreply=4:2", true, 0},
        // The session for the lock bits cannot be opened.
        {"no session, first", "noreply=%:1", true, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Board("ATmega8/8A", k.options);
        ProjectSettings& p = c.projectSettings;
        p.AutoFlashProgram = p.ProgramFuse = true;
        p.ProgramFuseBeforeAll = k.before;
        ApplyRecommendedPresets(Table(), p.LockFuse);
        Load(false, {0x11, 0x22, 0x33, 0x44}, "app.bin");
        ui.Clear();
        c.autoProgramOk = false;
        c.RunAutoProgram(false);
        // The run went on and programmed the Flash ...
        EXPECT_EQ(board->Chip().Flash()[3], 0x44);
        // ... but does not claim success.
        EXPECT_EQ(Statuses().back(), Translate(1132));
        EXPECT_FALSE(c.autoProgramOk);
        const auto boxes = Boxes();
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), Translate(1132)), k.boxes1132);
    }

    // The same failure with the fuses last: the low fuse byte is the second
    // '4' of the session after those of Program Flash.
    c.projectSettings.ProgramFuse = false;
    sim::SimBoard& probe = Board("ATmega8/8A");
    c.RunAutoProgram(false);
    ASSERT_TRUE(c.autoProgramOk);
    const int programFlashWrites = probe.CommandCount('4');
    Board("ATmega8/8A", "wrongreply=4:" + std::to_string(programFlashWrites + 2));
    c.projectSettings.ProgramFuse = true;
    c.projectSettings.ProgramFuseBeforeAll = false;
    ui.Clear();
    c.autoProgramOk = false;
    c.RunAutoProgram(false);
    EXPECT_EQ(Statuses().back(), Translate(1132));
    EXPECT_FALSE(c.autoProgramOk);
}

// ---- The unattended command-line run ---------------------------------------

class QuietRunTest : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override
    {
        std::filesystem::current_path(oldCwd);
        SimFixture::TearDown();
    }
    // Saves the current settings as a project and runs it as the command line
    // does, in a fresh program.
    bool RunSaved(bool quiet, RecordingUi& ui2)
    {
        const std::string project = (dir / "job.zelko").string();
        c.SaveProject(project);
        Controller fresh(ui2);
        fresh.comPort = 1;
        fresh.serialPort.SetTransportFactory([this, &fresh](int, std::string& name) {
            name = spec;
            return sim::MakeSimTransport(spec, fresh.CurrentDeviceIndex());
        });
        const bool ok = fresh.RunCommandLineAutoProgram(project, quiet);
        EXPECT_EQ(ok, fresh.autoProgramOk);
        EXPECT_FALSE(fresh.serialPort.IsOpen());
        return ok;
    }
    std::filesystem::path oldCwd;
};

TEST_F(QuietRunTest, WritesTheVerdictToLogTxt)
{
    sim::SimBoard& b = Board("ATmega8/8A");
    ProjectSettings& p = c.projectSettings;
    // The lock and fuse session comes first, so its faults are easy to aim.
    p.AutoFlashProgram = p.AutoFlashVerify = true;
    p.ProgramFuse = p.ProgramFuseBeforeAll = true;
    ApplyRecommendedPresets(Table(), p.LockFuse);
    Load(false, {0xDE, 0xAD, 0xBE, 0xEF}, "app.bin");

    RecordingUi quietUi;
    EXPECT_TRUE(RunSaved(true, quietUi));
    EXPECT_EQ(b.Chip().Flash()[1], 0xAD);
    EXPECT_EQ(ReadFile(dir / "log.txt"),
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: OK\n");
    // The first lock and fuse step of a quiet run shows no confirmation box.
    const auto boxes = quietUi.Texts(UiEvent::Box);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), Translate(1109)), 0);

    // A failing run says so.
    Board("ATmega8/8A", "noreply={:1");
    RecordingUi failingUi;
    EXPECT_FALSE(RunSaved(true, failingUi));
    EXPECT_EQ(ReadFile(dir / "log.txt"),
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: OK\n"
              "ZELKO started in quietautoprogram mode.\nAUTOPROGRAM: Error\n");

    // A lock/fuse failure alone is enough.
    Board("ATmega8/8A", "wrongreply=4:2");
    RecordingUi fuseUi;
    EXPECT_FALSE(RunSaved(true, fuseUi));
    EXPECT_EQ(Lines(ReadFile(dir / "log.txt")).back(), "AUTOPROGRAM: Error");
}

TEST_F(QuietRunTest, WithoutQuietTheVerdictIsABox)
{
    Board("ATmega8/8A");
    c.projectSettings.AutoErase = true;
    RecordingUi ui2;
    EXPECT_TRUE(RunSaved(false, ui2));
    EXPECT_EQ(ui2.Texts(UiEvent::Box).back(), Translate(1190));
    EXPECT_FALSE(std::filesystem::exists(dir / "log.txt"));
}

// ---- A link that fails anywhere --------------------------------------------

// Every reply of a whole auto-program run, dropped in turn: the run always
// ends, with the port closed and a step's message or a visible warning.
TEST_F(SimFixture, EveryDroppedReplyOfAWholeRun)
{
    auto configure = [this] {
        ProjectSettings& p = c.projectSettings;
        p = ProjectSettings{};
        p.FlashBuffer = &c.flashBuffer;
        p.EepromBuffer = &c.eepromBuffer;
        p.DeviceIndex = FindByName("ATmega8/8A");
        p.Log = (dir / "project.log").string();
        p.AutoErase = p.AutoEmptyCheck = p.ProgramFuse = p.ProgramFuseBeforeAll = true;
        p.AutoEepromProgram = p.AutoEepromVerify = true;
        p.AutoFlashProgram = p.AutoFlashVerify = true;
        ApplyRecommendedPresets(LockFuseTableAt(c.SelectedDevice().lockFuseTableIndex),
                                p.LockFuse);
    };
    configure();
    Load(true, {1, 2, 3, 4, 5, 6, 7, 8}, "e.bin");
    std::vector<uint8_t> image(130, 0x5A);
    Load(false, image, "f.bin");

    // Count the commands of a clean run.
    sim::SimBoard& clean = Board("ATmega8/8A");
    c.RunAutoProgram(false);
    ASSERT_TRUE(c.autoProgramOk);
    const uint8_t highFuse = clean.Chip().FuseByteValue(FuseByte::High);
    ASSERT_NE(highFuse, 0xFF);
    std::map<uint8_t, int> counts;
    for (uint8_t cmd : {'%', '@', '&', ':', '#', 'Q', 'L', 'U', '4', '5', '-', 'W', '{', '>',
                        '}', '<'})
        counts[cmd] = clean.CommandCount(cmd);

    std::set<int> allowed;
    for (int id = 1122; id <= 1130; ++id)
        allowed.insert(id);
    int runs = 0;
    for (const auto& [cmd, count] : counts) {
        for (int k = 1; k <= count; ++k) {
            char option[32];
            std::snprintf(option, sizeof option, "noreply=0x%02X:%d", cmd, k);
            SCOPED_TRACE(option);
            Board("ATmega8/8A", option);
            configure();
            ui.Clear();
            c.autoProgramOk = false;
            c.RunAutoProgram(false);
            ++runs;
            EXPECT_FALSE(c.serialPort.IsOpen());
            EXPECT_EQ(ui.waitCursorDepth, 0);
            const std::string last = Statuses().back();
            bool stepFailed = last == Translate(1132);
            for (int id : allowed)
                stepFailed = stepFailed || last == Translate(id);
            if (stepFailed) {
                EXPECT_FALSE(c.autoProgramOk);
            } else {
                // Some replies are read and ignored (the extended address
                // before each block, a close the board did not confirm); a run
                // that still says DONE must have put everything on the chip.
                EXPECT_TRUE(c.autoProgramOk) << last;
                const sim::SimChip& chip = board->Chip();
                EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.Flash().begin()));
                EXPECT_EQ(chip.Eeprom()[7], 8);
                EXPECT_EQ(chip.FuseByteValue(FuseByte::High), highFuse);
            }
        }
    }
    EXPECT_GT(runs, 50);
}

}  // namespace
}  // namespace zelko::test
