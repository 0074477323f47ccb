#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/buffers/ImageFile.h"
#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::RecordingUi;
using test::TempDir;
using test::UiEvent;
using test::ReadFile;
using test::WriteFile;

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string Hex(const std::vector<uint8_t>& image)
{
    std::string text;
    WriteIntelHex(image.data(), image.size(), text);
    return text;
}

struct Files : ::testing::Test {
    Files() : c(ui) { c.projectSettings.Log = (dir / "log.txt").string(); }

    std::string Path(const std::string& name, const std::string& content)
    {
        const std::string p = (dir / name).string();
        WriteFile(p, content);
        return p;
    }
    std::vector<std::string> Boxes() { return ui.Texts(UiEvent::Box); }
    std::string Log()
    {
        return std::filesystem::exists(dir / "log.txt") ? ReadFile(dir / "log.txt") : "";
    }

    TempDir dir;
    RecordingUi ui;
    Controller c;
};

TEST_F(Files, LoadingPadsFlashToWholeWordsButNotEeprom)
{
    const std::string p = Path("three.hex", ":03000000010203F7\r\n:00000001FF\r\n");
    c.projectSettings.Modified = true;
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, p));
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, p));
    EXPECT_EQ(c.flashBuffer.Data, (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    EXPECT_EQ(c.eepromBuffer.Data, (std::vector<uint8_t>{1, 2, 3}));
    for (MemoryBuffer* b : {&c.flashBuffer, &c.eepromBuffer}) {
        EXPECT_EQ(b->FileName, p);
        EXPECT_FALSE(b->Modified);
        EXPECT_EQ(b->States, std::vector<uint8_t>(b->Data.size(), Loaded));
    }
    EXPECT_FALSE(c.projectSettings.Modified);  // both buffers clean: the project is too
    EXPECT_TRUE(Boxes().empty());

    c.ReportLength(c.flashBuffer);
    EXPECT_EQ(ui.LastStatus(), Format(1041, 4, 4, 0x105u));
    c.OnClose(true);
    c.ReportLength(c.eepromBuffer);
    EXPECT_EQ(ui.LastStatus(), Format(1074, 0, 0, 0u));
    EXPECT_NE(ui.LastStatus().find("0x0000"), std::string::npos);
}

TEST_F(Files, OnlyAnEndRecordGivesAnEmptyNamedBuffer)
{
    const std::string p = Path("empty.eep", ":00000001FF\n");
    c.OnLoad(true);  // cancelled dialog: nothing happens
    EXPECT_EQ(ui.Count(UiEvent::Status), 0);
    ui.fileNames.push_back(p);
    c.OnLoad(true);
    EXPECT_EQ(c.eepromBuffer.Length, 0);
    EXPECT_EQ(c.eepromBuffer.FileName, p);
    EXPECT_EQ(ui.LastStatus(), Format(1074, 0, 0, 0u));
}

// A HEX-named file the reader rejects is still loaded byte for byte, but the
// user is told and the log says so.
TEST_F(Files, BrokenHexFilesFallBackToRawWithANotice)
{
    struct Case {
        std::string name, content;
        bool hexError;   // "Error in HEX file" first
        bool question;   // the checksum question, answered No
        bool notice;
    } cases[] = {
        {"noend.hex", ":03000000010203F7\r\n", false, false, true},
        {"digits.hex", ":0300000001G203F7\r\n:00000001FF\r\n", true, false, true},
        {"count.eep", ":09000000010203F7\r\n:00000001FF\r\n", true, false, true},
        {"sum.hex", ":03000000010203F8\r\n:00000001FF\r\n", false, true, true},
        {"noend.dat", ":03000000010203F7\r\n", false, false, false},  // HEX tried, not promised
    };
    for (const Case& t : cases) {
        ui.Clear();
        const std::string p = Path(t.name, t.content);
        ASSERT_TRUE(c.LoadFile(c.eepromBuffer, p));
        EXPECT_EQ(c.eepromBuffer.Data, Bytes(t.content)) << t.name;
        EXPECT_EQ(c.eepromBuffer.FileName, p);
        const auto boxes = Boxes();
        size_t k = 0;
        if (t.hexError) {
            ASSERT_GT(boxes.size(), k) << t.name;
            EXPECT_EQ(boxes[k++], Translate(1020));
        }
        EXPECT_EQ(ui.Count(UiEvent::YesNo), t.question ? 1 : 0) << t.name;
        if (t.notice) {
            ASSERT_GT(boxes.size(), k) << t.name;
            EXPECT_EQ(boxes[k], Format(2000, p.c_str(), static_cast<int>(t.content.size())));
            EXPECT_NE(Log().find(boxes[k]), std::string::npos) << t.name;
            ++k;
        }
        EXPECT_EQ(boxes.size(), k) << t.name;
    }
    const auto events = ui.Events();
    for (const UiEvent& e : events) {
        if (e.kind == UiEvent::Box) {
            EXPECT_EQ(e.title, Translate(1016));
        }
    }
}

TEST_F(Files, ChecksumQuestionYesLoadsAsHex)
{
    const std::string p = Path("sum.hex", ":0100000001FF\n:0100010002FF\n:00000001FF\n");
    ui.answers = {true};
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, p));
    EXPECT_EQ(c.eepromBuffer.Data, (std::vector<uint8_t>{1, 2}));
    const auto q = ui.Texts(UiEvent::YesNo);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0], Translate(1021));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Files, AnUnreadableFileLeavesTheBufferAsItWas)
{
    const std::string p = Path("a.bin", "AB");
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, p));
    const std::string missing = (dir / "missing.hex").string();
    EXPECT_TRUE(c.LoadFile(c.flashBuffer, missing));  // counts as done
    EXPECT_EQ(c.LoadImageFile(c.flashBuffer, dir.path().string()), Controller::LoadOutcome::NotRead);
    EXPECT_EQ(c.flashBuffer.Data, Bytes("AB"));
    EXPECT_EQ(c.flashBuffer.FileName, p);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], Format(1144, missing.c_str()));
}

TEST_F(Files, LargeFiles)
{
    // A raw file is read up to the 8 MiB bound.
    std::string big(kImageLimit + 3, 'x');
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, Path("big.bin", big)));
    EXPECT_EQ(c.eepromBuffer.Length, static_cast<int32_t>(kImageLimit));

    // HEX text is about three times its image: a 4 MiB image is read whole
    // even though its text is larger than the bound.
    std::vector<uint8_t> image(4 << 20);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    const std::string text = Hex(image);
    ASSERT_GT(text.size(), kImageLimit);
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, Path("big.hex", text)));
    EXPECT_EQ(c.flashBuffer.Data, image);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Files, LoadAtMergesAtTheGivenStart)
{
    const std::string base = Path("base.bin", "ABCDEF");
    const std::string part = Path("part.hex", Hex(Bytes("xyz")));
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, base));

    // Appending at the proposal asks nothing; the merged image has no file, so
    // it stays marked modified.
    ui.loadAddresses = {6};
    ASSERT_TRUE(c.LoadFileAt(c.eepromBuffer, part));
    EXPECT_EQ(c.eepromBuffer.Data, Bytes("ABCDEFxyz"));
    EXPECT_EQ(ui.Texts(UiEvent::LoadAddress), std::vector<std::string>{"6"});
    EXPECT_EQ(ui.Count(UiEvent::YesNo), 0);
    EXPECT_TRUE(c.eepromBuffer.Modified);
    EXPECT_TRUE(c.projectSettings.Modified);
    EXPECT_EQ(c.eepromBuffer.FileName, part);
    EXPECT_EQ(c.eepromBuffer.LabelText(), part + "*");
    EXPECT_EQ(c.eepromBuffer.States, std::vector<uint8_t>(9, Loaded));

    // Beyond the end: a gap of 0xFF.
    ui.loadAddresses = {11};
    ASSERT_TRUE(c.LoadFileAt(c.eepromBuffer, part));
    EXPECT_EQ(c.eepromBuffer.Data, Bytes("ABCDEFxyz\xFF\xFFxyz"));

    // Overlap: asked; Yes overwrites.
    ui.loadAddresses = {1};
    ui.answers = {true};
    ASSERT_TRUE(c.LoadFileAt(c.eepromBuffer, part));
    EXPECT_EQ(c.eepromBuffer.Data, Bytes("AxyzEFxyz\xFF\xFFxyz"));
    EXPECT_EQ(ui.Texts(UiEvent::YesNo), std::vector<std::string>{Translate(1155)});

    // Flash is padded after the merge.
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, base));
    ui.loadAddresses = {6};
    ASSERT_TRUE(c.LoadFileAt(c.flashBuffer, part));
    EXPECT_EQ(c.flashBuffer.Data, Bytes("ABCDEFxyz\xFF"));
}

TEST_F(Files, LoadAtRefusalsLeaveTheBufferUnchanged)
{
    const std::string base = Path("base.bin", "ABCD");
    const std::string part = Path("part.bin", "xy");
    // On an empty buffer nothing happens and nothing is said.
    EXPECT_FALSE(c.LoadFileAt(c.eepromBuffer, part));
    EXPECT_TRUE(ui.Events().empty());

    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, base));
    struct Case {
        std::optional<long long> start;
        std::deque<bool> answers;
    } cases[] = {
        {std::nullopt, {}},     // dialog cancelled
        {-1, {}},               // negative start
        {-0x800000, {}},
        {2, {false}},           // overlap declined
        {0x7FFFFFFF, {}},       // the end would not fit a length
    };
    for (const Case& t : cases) {
        ui.Clear();
        ui.loadAddresses = {t.start};
        ui.answers = t.answers;
        EXPECT_FALSE(c.LoadFileAt(c.eepromBuffer, part));
        EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1023)});
        EXPECT_EQ(c.eepromBuffer.Data, Bytes("ABCD"));
        EXPECT_EQ(c.eepromBuffer.FileName, base);
        EXPECT_FALSE(c.eepromBuffer.Modified);
    }
}

TEST_F(Files, ReloadCountsOnlyAFileActuallyRead)
{
    const std::string p = Path("r.hex", Hex(Bytes("1234")));
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, p));
    c.flashBuffer.IncrementCounter(3);
    c.OnReload(false);
    EXPECT_EQ(c.LastCommandResult, 0);
    EXPECT_EQ(c.flashBuffer.Data, Bytes("1234"));
    EXPECT_FALSE(c.flashBuffer.Modified);

    std::filesystem::remove(p);
    c.OnReload(false);
    EXPECT_EQ(c.LastCommandResult, -1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Format(1144, p.c_str())});
    EXPECT_EQ(c.flashBuffer.Length, 0);
    EXPECT_EQ(c.flashBuffer.FileName, kUnspecified);
}

TEST_F(Files, SaveChoosesTheKindByExtension)
{
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, Path("in.bin", std::string("\x01\x02\x03", 3))));
    const std::string hexText = ":03000000010203F7\r\n:00000001FF\r\n";
    struct Case {
        const char* name;
        std::deque<bool> answers;
        bool hex;
    } cases[] = {
        {"o.hex", {}, true}, {"o.EEP", {}, true}, {"o.BIN", {}, false},
        {"o.txt", {false}, false}, {"o.txt2", {true}, true},
    };
    for (const Case& t : cases) {
        ui.Clear();
        ui.answers = t.answers;
        const std::string p = (dir / t.name).string();
        ASSERT_TRUE(c.SaveFile(c.eepromBuffer, p));
        EXPECT_EQ(ReadFile(p), t.hex ? hexText : std::string("\x01\x02\x03", 3)) << t.name;
        EXPECT_EQ(ui.Count(UiEvent::YesNo), t.answers.empty() ? 0 : 1) << t.name;
        if (!t.answers.empty()) {
            EXPECT_EQ(ui.Texts(UiEvent::YesNo)[0], Format(1017, p.c_str()));
        }
    }
    EXPECT_EQ(c.eepromBuffer.States, std::vector<uint8_t>(3, Saved));
    // No stray temporary files beside the targets.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

TEST_F(Files, SaveMarksBothBufferAndProjectClean)
{
    ASSERT_TRUE(c.LoadFile(c.flashBuffer, Path("in.bin", "ABCD")));
    c.flashBuffer.IncrementCounter(3);
    ASSERT_TRUE(c.projectSettings.Modified);
    ui.fileNames = {(dir / "out.hex").string()};
    c.OnSaveAs(false);
    EXPECT_FALSE(c.flashBuffer.Modified);
    EXPECT_FALSE(c.projectSettings.Modified);
    EXPECT_EQ(c.flashBuffer.FileName, (dir / "out.hex").string());
    EXPECT_EQ(ui.LastStatus(), Format(1041, 4, 4, static_cast<unsigned>(c.flashBuffer.Checksum())));
}

// A failed save must leave the previous file and the buffer exactly as they were.
TEST_F(Files, FailedSavesKeepTheOldFileAndTheBuffer)
{
    ASSERT_TRUE(c.LoadFile(c.eepromBuffer, Path("in.bin", std::string(4000, 'A'))));
    c.eepromBuffer.IncrementCounter(0);
    const std::string old = Path("old.hex", "precious");
    const auto before = c.eepromBuffer.Data;
    const auto states = c.eepromBuffer.States;
    const std::string name = c.eepromBuffer.FileName;

    auto expectUnchanged = [&](const char* what) {
        EXPECT_EQ(Boxes(), std::vector<std::string>{Translate(1015)}) << what;
        EXPECT_EQ(c.eepromBuffer.Data, before) << what;
        EXPECT_EQ(c.eepromBuffer.States, states) << what;
        EXPECT_EQ(c.eepromBuffer.FileName, name) << what;
        EXPECT_TRUE(c.eepromBuffer.Modified) << what;
        EXPECT_EQ(ReadFile(old), "precious") << what;
        ui.Clear();
    };

    EXPECT_FALSE(c.SaveFile(c.eepromBuffer, (dir / "no/such/dir/x.hex").string()));
    expectUnchanged("missing directory");
    EXPECT_FALSE(c.SaveFile(c.eepromBuffer, old + "/x.hex"));
    expectUnchanged("a file as directory");

    // The disk fills up while the file is written.
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = c.SaveFile(c.eepromBuffer, old);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    expectUnchanged("disk full");
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string()[0], '.') << "temporary file left: " << e.path();

    // Save As to a place that cannot be written keeps the old name too.
    ui.fileNames = {(dir / "no/such/dir/y.hex").string()};
    EXPECT_FALSE(c.SaveFileAs(c.eepromBuffer));
    expectUnchanged("save as");
}

TEST_F(Files, SaveOfAnUnnamedBufferAsksForAName)
{
    c.eepromBuffer.CreateBuffer(4);
    c.OnSave(true);  // dialog cancelled
    EXPECT_EQ(ui.Count(UiEvent::FileName), 1);
    EXPECT_EQ(c.eepromBuffer.FileName, kUnspecified);
    ui.fileNames = {(dir / "e.eep").string()};
    c.OnSave(true);
    EXPECT_EQ(ReadFile(dir / "e.eep"), ":04000000FFFFFFFF00\r\n:00000001FF\r\n");
    c.OnSave(true);  // named now: saved without asking
    EXPECT_EQ(ui.Count(UiEvent::FileName), 2);
}

}  // namespace
}  // namespace zelko
