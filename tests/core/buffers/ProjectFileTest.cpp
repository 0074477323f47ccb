#include "core/buffers/ProjectFile.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/app/SettingsStore.h"
#include "core/devices/DeviceTable.h"
#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::ReadFile;
using test::RecordingUi;
using test::TempDir;
using test::UiEvent;
using test::WriteFile;

// One byte 0x55 at address 0.
constexpr const char* kTinyHex = ":0100000055AA\n:00000001FF\n";

struct Fixture {
    TempDir dir;
    RecordingUi ui;
    Controller c{ui};
    Fixture() { c.settings = SettingsStore(dir / "zelko.conf"); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// The file a fresh project with empty buffers and the ATmega8/8A writes.
std::string FreshProjectText()
{
    std::string s =
        "[Files]\nFlash=[Unspecified]\nEeprom=[Unspecified]\nFlashInvert=0\n\n"
        "[Settings]\nPolling=0\nCheckSign=0\nNoSynchronization=0\nResetStrobeLength=20\nSPIPeriod=4\n\n"
        "[AutoProgram]\nAutoErase=0\nAutoEmptyCheck=0\nAutoFlashReload=0\nAutoFlashProgram=0\n"
        "AutoFlashVerify=0\nAutoEepromReload=0\nAutoEepromProgram=0\nAutoEepromVerify=0\n"
        "AutoIncrementFlash=0\nAutoIncrement=0\nProgramFuse=0\nProgramFuseBeforeAll=0\nLockMode=0\n";
    for (int i = 0; i < 32; ++i)
        s += "Fuse" + std::to_string(i) + "=0\n";
    for (int i = 0; i < 16; ++i)
        s += "BootLock" + std::to_string(i) + "=0\n";
    s += "AutoIncAddressFlash=0\nAutoIncAddress=0\n\n"
         "[Device]\nDeviceNo=17\n\n"
         "[Delays]\nDelayByte=0\nDelayPage=0\nDelayByteValue=15\nDelayPageValue=15\n"
         "DelayByte2=0\nDelayPage2=0\nDelayByteValue2=10\nDelayPageValue2=10\n";
    return s;
}

TEST(ProjectFileTest, NewFileHasTheStandardLayout)
{
    Fixture f;
    f.c.projectSettings.Modified = true;
    f.c.SaveProject(f.Path("new.zk2"));
    EXPECT_EQ(ReadFile(f.dir / "new.zk2"), FreshProjectText());
    EXPECT_FALSE(f.c.projectSettings.Modified);
    EXPECT_EQ(f.ui.Count(UiEvent::Box), 0);
}

TEST(ProjectFileTest, FilesOnlyProjectTakesTheReadDefaults)
{
    Fixture f;
    WriteFile(f.dir / "min.zk2", "[Files]\nFlash=[Unspecified]\n");
    ProjectSettings& p = f.c.projectSettings;
    // Values a load must replace, including ones New would keep.
    p.CheckSign = p.NoSynchronization = p.ProgramFuseBeforeAll = p.AutoErase = true;
    p.DelayByte = true;
    p.SPIPeriod = 1;
    p.DeviceIndex = 3;
    p.LockFuse.fuses[5] = 1;
    p.Modified = true;
    p.Log = f.Path("old.log");
    f.c.flashBuffer.SetContents({1, 2, 3, 4}, Loaded);

    ASSERT_TRUE(f.c.LoadProject(f.Path("min.zk2")));
    EXPECT_EQ(f.ui.Count(UiEvent::Box), 0);
    EXPECT_EQ(p.ResetStrobeLength, 400);
    EXPECT_EQ(p.SPIPeriod, 4);
    EXPECT_EQ(p.DeviceIndex, kDefaultDeviceIndex);
    EXPECT_STREQ(DeviceAt(p.DeviceIndex).name, "ATmega8/8A");
    EXPECT_FALSE(p.CheckSign || p.NoSynchronization || p.ProgramFuseBeforeAll || p.AutoErase);
    EXPECT_FALSE(p.DelayByte);
    EXPECT_EQ(p.DelayByteValue, 0);
    EXPECT_EQ(p.DelayPageValue2, 0);
    EXPECT_EQ(p.LockFuse, LockFuseSettings{});
    EXPECT_EQ(p.Log, "");
    EXPECT_FALSE(p.Modified);
    EXPECT_EQ(p.ProjectFile, f.Path("min.zk2"));
    EXPECT_FALSE(f.c.flashBuffer.HasData());
    EXPECT_FALSE(f.c.eepromBuffer.HasData());
}

TEST(ProjectFileTest, SecondSaveKeepsHandAddedLinesInPlace)
{
    Fixture f;
    const std::string path = f.Path("p.zk2");
    f.c.SaveProject(path);
    std::string text = ReadFile(path);
    // The user adds a log, a comment and a section of their own.
    text.insert(text.find("FlashInvert=0\n") + 14, "Log=/tmp/prog.log\n; keep me\n");
    text.insert(0, "# project for board rev B\n");
    text += "\n[Notes]\nWho=me\n";
    WriteFile(path, text);

    f.c.projectSettings.SPIPeriod = 2;
    f.c.projectSettings.LockFuse.fuses[31] = 1;
    f.c.SaveProject(path);

    std::string expected = FreshProjectText();
    expected.insert(expected.find("FlashInvert=0\n") + 14, "Log=/tmp/prog.log\n; keep me\n");
    expected.insert(0, "# project for board rev B\n");
    expected.replace(expected.find("SPIPeriod=4"), 11, "SPIPeriod=2");
    expected.replace(expected.find("Fuse31=0"), 8, "Fuse31=1");
    expected += "\n[Notes]\nWho=me\n";
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(ProjectFileTest, WindowsFileReadsAndKeepsCrLf)
{
    Fixture f;
    const std::string path = f.Path("win.zk2");
    WriteFile(path,
              "\xEF\xBB\xBF[FILES]\r\nFLASH=[Unspecified]\r\neeprom=[Unspecified]\r\n"
              "log=C:\\Logs\\zelko.log\r\n\r\n[settings]\r\nspiperiod=2\r\nresetstrobelength=50\r\n"
              "[device]\r\ndeviceno=47\r\n");
    ASSERT_TRUE(f.c.LoadProject(path));
    EXPECT_EQ(f.c.projectSettings.SPIPeriod, 2);
    EXPECT_EQ(f.c.projectSettings.ResetStrobeLength, 50);
    EXPECT_EQ(f.c.projectSettings.Log, "C:\\Logs\\zelko.log");
    EXPECT_STREQ(DeviceAt(f.c.projectSettings.DeviceIndex).name, "ATtiny43U");

    f.c.projectSettings.Log.clear();  // no log file written during the test
    f.c.SaveProject(path);
    const std::string text = ReadFile(path);
    EXPECT_TRUE(text.starts_with("\xEF\xBB\xBF[FILES]\r\nFLASH=[Unspecified]\r\n")) << text;
    EXPECT_NE(text.find("[settings]\r\nspiperiod=2\r\nresetstrobelength=50\r\nPolling=0\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[device]\r\ndeviceno=47\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("DeviceNo"), std::string::npos);  // no second key under another case
    size_t lf = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ++lf;
    EXPECT_EQ(lf, 0u) << text;
}

TEST(ProjectFileTest, OverwriteLogOnlyForItsExactWords)
{
    struct Case {
        const char* text;
        bool on;
    };
    const Case cases[] = {{"1", true},     {"yes", true},   {"Yes", true},  {"true", true},
                          {"True", true},  {"TRUE", false}, {"YES", false}, {"0", false},
                          {"2", false},    {"on", false},   {"", false},    {"yes please", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(OverwriteLogEnabled(c.text), c.on) << c.text;
        const IniFile ini = IniFile::Parse(std::string("[Files]\nOverwriteLog = ") + c.text + " \n");
        EXPECT_EQ(OverwriteLogEnabled(ini.ReadString("Files", "OverwriteLog", "")), c.on) << c.text;
    }
}

TEST(ProjectFileTest, LogOverwrittenOnceAfterLoadThenAppended)
{
    Fixture f;
    const std::string log = f.Path("run.log");
    WriteFile(log, "old run\n");
    WriteFile(f.dir / "p.zk2", "[Files]\nFlash=[Unspecified]\nLog=" + log + "\nOverwriteLog=True\n");
    ASSERT_TRUE(f.c.LoadProject(f.Path("p.zk2")));
    EXPECT_TRUE(f.c.projectSettings.OverwriteLog);
    f.c.ShowStatus("first");
    f.c.ShowStatus("second");
    EXPECT_EQ(ReadFile(log), "first\nsecond\n");
}

TEST(ProjectFileTest, DeviceNumberSelectsTheDevice)
{
    struct Case {
        const char* device;  // text of the [Device] section
        const char* expected;
    };
    const std::string first = DeviceAt(0).name;
    const Case cases[] = {
        {"", "ATmega8/8A"},                                   // key missing
        {"DeviceNo=\n", "ATmega8/8A"},                        // no number
        {"DeviceNo=abc\n", "ATmega8/8A"},
        {"DeviceNo=17\n", "ATmega8/8A"},
        {"DeviceNo=9999\n", first.c_str()},                   // no device has it
        {"DeviceNo=-5\n", first.c_str()},
        {"DeviceNo=47\n", "ATtiny43U"},                       // shared number: first record
        {"DeviceNo=47\nDeviceName=ATmega328PB\n", "ATmega328PB"},
        {"DeviceNo=95\nDeviceName=ATmega649P/6490P\n", "ATmega649P/6490P"},
        {"DeviceNo=95\n", "ATmega3250A/3250PA"},
        {"DeviceNo=47\nDeviceName=ATmega649P/6490P\n", "ATtiny43U"},  // name of another number
        {"DeviceNo=47\nDeviceName=NoSuchChip\n", "ATtiny43U"},
    };
    for (const Case& c : cases) {
        const IniFile ini = IniFile::Parse(std::string("[Device]\n") + c.device);
        EXPECT_STREQ(DeviceAt(ProjectDeviceIndex(ini)).name, c.expected) << c.device;
    }
}

TEST(ProjectFileTest, EveryDeviceSurvivesSaveAndLoad)
{
    Fixture f;
    const std::string path = f.Path("d.zk2");
    for (int i = 0; i < kDeviceCount; ++i) {
        std::filesystem::remove(path);
        f.c.projectSettings.DeviceIndex = i;
        f.c.SaveProject(path);
        const std::string text = ReadFile(path);
        // The name is written only for a record that is not the first with its number.
        const bool named = FindByDeviceNo(DeviceAt(i).deviceNo) != i;
        EXPECT_EQ(text.find("DeviceName=") != std::string::npos, named) << DeviceAt(i).name;
        f.c.projectSettings.DeviceIndex = 0;
        ASSERT_TRUE(f.c.LoadProject(path));
        EXPECT_EQ(f.c.projectSettings.DeviceIndex, i) << DeviceAt(i).name;
    }

    // Switching a named file back to the first record of the number must not
    // leave the old name behind to win at the next load.
    std::filesystem::remove(path);
    f.c.projectSettings.DeviceIndex = FindByName("ATmega328PB");
    f.c.SaveProject(path);
    f.c.projectSettings.DeviceIndex = FindByName("ATtiny43U");
    f.c.SaveProject(path);
    ASSERT_TRUE(f.c.LoadProject(path));
    EXPECT_STREQ(DeviceAt(f.c.projectSettings.DeviceIndex).name, "ATtiny43U");
}

TEST(ProjectFileTest, SettingsRoundTripAndOutOfRangeIndexesAreTamed)
{
    Fixture f;
    ProjectSettings& p = f.c.projectSettings;
    p.FlashInvert = p.Polling = p.CheckSign = p.NoSynchronization = true;
    p.AutoErase = p.AutoEepromVerify = p.AutoIncrementFlash = p.ProgramFuseBeforeAll = true;
    p.ResetStrobeLength = 123;
    p.SPIPeriod = 6;
    p.LockFuse.lockMode = 3;
    p.LockFuse.fuses[0] = p.LockFuse.fuses[31] = 1;
    p.LockFuse.bootLocks[15] = 1;
    p.AutoIncAddressFlash = -2;
    p.AutoIncAddress = 0x7FFFFFFF;
    p.DelayPage2 = true;
    p.DelayByteValue = 99;
    const ProjectSettings saved = p;
    f.c.SaveProject(f.Path("r.zk2"));

    f.c.OnProjectNew();
    ASSERT_TRUE(f.c.LoadProject(f.Path("r.zk2")));
    const ProjectSettings& q = f.c.projectSettings;
    EXPECT_EQ(q.FlashInvert, saved.FlashInvert);
    EXPECT_EQ(q.Polling, saved.Polling);
    EXPECT_EQ(q.CheckSign, saved.CheckSign);
    EXPECT_EQ(q.NoSynchronization, saved.NoSynchronization);
    EXPECT_EQ(q.AutoErase, saved.AutoErase);
    EXPECT_EQ(q.AutoEepromVerify, saved.AutoEepromVerify);
    EXPECT_EQ(q.AutoIncrementFlash, saved.AutoIncrementFlash);
    EXPECT_EQ(q.ProgramFuseBeforeAll, saved.ProgramFuseBeforeAll);
    EXPECT_EQ(q.ResetStrobeLength, 123);
    EXPECT_EQ(q.SPIPeriod, 6);
    EXPECT_EQ(q.LockFuse, saved.LockFuse);
    EXPECT_EQ(q.AutoIncAddressFlash, -2);
    EXPECT_EQ(q.AutoIncAddress, 0x7FFFFFFF);
    EXPECT_TRUE(q.DelayPage2);
    EXPECT_EQ(q.DelayByteValue, 99);
    EXPECT_EQ(q.DelayPageValue, 15);

    // SPIPeriod and LockMode index fixed tables; values no dialog can produce
    // fall back to the defaults instead of reaching past them.
    struct Case {
        const char* settings;
        int spi;
        int lockMode;
    };
    const Case cases[] = {{"SPIPeriod=7\n", 4, 0},        {"SPIPeriod=-1\n", 4, 0},
                          {"SPIPeriod=0\n", 0, 0},        {"[AutoProgram]\nLockMode=4\n", 4, 0},
                          {"[AutoProgram]\nLockMode=-1\n", 4, 0},
                          {"[AutoProgram]\nLockMode=2x\n", 4, 2}};
    for (const Case& c : cases) {
        ProjectSettings r;
        ReadProjectKeys(IniFile::Parse(std::string("[Settings]\n") + c.settings), r);
        EXPECT_EQ(r.SPIPeriod, c.spi) << c.settings;
        EXPECT_EQ(r.LockFuse.lockMode, c.lockMode) << c.settings;
    }
}

TEST(ProjectFileTest, LongImagePathIsReadWhole)
{
    Fixture f;
    std::filesystem::path deep = f.dir.path();
    while (deep.string().size() < 600)
        deep /= std::string(100, 'd');
    std::filesystem::create_directories(deep);
    const std::string image = (deep / "image.hex").string();
    ASSERT_GT(image.size(), 600u);
    WriteFile(image, kTinyHex);

    ASSERT_TRUE(f.c.LoadFile(f.c.flashBuffer, image));
    f.c.SaveProject(f.Path("long.zk2"));
    f.c.OnProjectClose();
    ASSERT_FALSE(f.c.flashBuffer.HasData());

    ASSERT_TRUE(f.c.LoadProject(f.Path("long.zk2")));
    EXPECT_EQ(f.c.flashBuffer.FileName, image);
    ASSERT_TRUE(f.c.flashBuffer.HasData());
    EXPECT_EQ(f.c.flashBuffer.Data[0], 0x55);
    EXPECT_EQ(f.ui.Count(UiEvent::Box), 0);
}

TEST(ProjectFileTest, FileWithoutFlashKeyIsRefusedWithNothingChanged)
{
    Fixture f;
    WriteFile(f.dir / "image.hex", kTinyHex);
    ASSERT_TRUE(f.c.LoadFile(f.c.flashBuffer, f.Path("image.hex")));
    f.c.projectSettings.ProjectFile = "/keep/me.zk2";
    f.c.projectSettings.SPIPeriod = 1;
    f.c.projectSettings.Modified = true;

    WriteFile(f.dir / "nokey.zk2", "[Files]\nEeprom=[Unspecified]\n[Settings]\nSPIPeriod=3\n");
    WriteFile(f.dir / "wrongsection.zk2", "[Settings]\nFlash=[Unspecified]\n");
    WriteFile(f.dir / "empty.zk2", "");
    std::filesystem::create_directory(f.dir / "dir.zk2");
    for (const char* name : {"missing.zk2", "nokey.zk2", "wrongsection.zk2", "empty.zk2", "dir.zk2"}) {
        f.ui.Clear();
        const std::string path = f.Path(name);
        EXPECT_FALSE(f.c.LoadProject(path)) << name;
        const auto boxes = f.ui.Events();
        ASSERT_EQ(boxes.size(), 1u) << name;
        EXPECT_EQ(boxes[0].text, Format(1024, path.c_str()));
        EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(boxes[0].title, Translate(1016));
        EXPECT_EQ(f.c.projectSettings.ProjectFile, "/keep/me.zk2");
        EXPECT_EQ(f.c.projectSettings.SPIPeriod, 1);
        EXPECT_TRUE(f.c.projectSettings.Modified);
        EXPECT_EQ(f.c.flashBuffer.FileName, f.Path("image.hex"));
        EXPECT_TRUE(f.c.flashBuffer.HasData());
    }
}

TEST(ProjectFileTest, FailedProjectSaveIsReportedAndKeepsTheOldFile)
{
    Fixture f;
    f.c.projectSettings.Modified = true;
    const std::string nowhere = f.Path("no/such/dir/p.zk2");
    f.c.SaveProject(nowhere);
    EXPECT_EQ(f.ui.Texts(UiEvent::Box), std::vector<std::string>{Format(2010, nowhere.c_str())});
    EXPECT_TRUE(f.c.projectSettings.Modified);

    // A path that exists but cannot be read as a file is not replaced.
    std::filesystem::create_directory(f.dir / "d.zk2");
    f.c.SaveProject(f.Path("d.zk2"));
    EXPECT_TRUE(std::filesystem::is_directory(f.dir / "d.zk2"));
    EXPECT_TRUE(f.c.projectSettings.Modified);

    // A file name that would break the file apart is not written either.
    f.c.flashBuffer.SetContents({1, 2}, Loaded);
    f.c.flashBuffer.FileName = f.Path("a\nb.hex");
    WriteFile(f.dir / "old.zk2", "[Files]\nFlash=[Unspecified]\n");
    f.c.SaveProject(f.Path("old.zk2"));
    EXPECT_EQ(ReadFile(f.dir / "old.zk2"), "[Files]\nFlash=[Unspecified]\n");
    EXPECT_EQ(f.ui.Texts(UiEvent::Box).back(), Format(2010, f.Path("old.zk2").c_str()));
    EXPECT_TRUE(f.c.projectSettings.Modified);
}

TEST(ProjectFileTest, SaveWritesNonEmptyBuffersFirst)
{
    Fixture f;
    f.c.flashBuffer.SetContents({0x11, 0x22}, Loaded);
    f.c.flashBuffer.FileName = f.Path("flash.bin");
    f.c.eepromBuffer.SetContents({0x33}, Loaded);  // unnamed: asked for a name
    f.ui.fileNames.push_back(f.Path("ee.bin"));
    f.c.SaveProject(f.Path("p.zk2"));
    EXPECT_EQ(ReadFile(f.dir / "flash.bin"), std::string("\x11\x22"));
    EXPECT_EQ(ReadFile(f.dir / "ee.bin"), std::string("\x33"));
    const IniFile ini = IniFile::Parse(ReadFile(f.dir / "p.zk2"));
    EXPECT_EQ(ini.ReadString("Files", "Flash", ""), f.Path("flash.bin"));
    EXPECT_EQ(ini.ReadString("Files", "Eeprom", ""), f.Path("ee.bin"));
}

TEST(ProjectCommandsTest, OpenSaveAsNewCloseReload)
{
    Fixture f;
    f.c.LoadRecentProjects();
    WriteFile(f.dir / "image.hex", kTinyHex);
    WriteFile(f.dir / "p.zk2",
              "[Files]\nFlash=" + f.Path("image.hex") + "\n[Settings]\nSPIPeriod=2\n[Device]\nDeviceNo=47\n");

    // Open cancelled, then opened.
    f.ui.fileNames.push_back(std::nullopt);
    f.c.OnProjectOpen();
    EXPECT_EQ(f.ui.LastStatus(), "Project not loaded");
    EXPECT_EQ(f.c.recentProjects[0], "[Unspecified]");

    f.ui.fileNames.push_back(f.Path("p.zk2"));
    f.c.OnProjectOpen();
    EXPECT_EQ(f.ui.LastStatus(), "Project loaded");
    EXPECT_EQ(f.c.recentProjects[0], f.Path("p.zk2"));
    EXPECT_EQ(f.c.settings.ReadInt("Recent", "LoadMostRecent", -1), 1);
    EXPECT_EQ(f.c.projectSettings.SPIPeriod, 2);
    EXPECT_TRUE(f.c.flashBuffer.HasData());

    // New keeps the buffers and forgets the project.
    f.c.OnProjectNew();
    EXPECT_EQ(f.c.projectSettings.ProjectFile, "[Unspecified]");
    EXPECT_EQ(f.c.projectSettings.SPIPeriod, 4);
    EXPECT_TRUE(f.c.flashBuffer.HasData());
    EXPECT_EQ(f.c.settings.ReadInt("Recent", "LoadMostRecent", -1), 0);

    // Save As cancelled on an unnamed project: the recent list is unchanged.
    const auto recent = f.c.recentProjects;
    f.ui.fileNames.push_back(std::nullopt);
    f.c.OnProjectSave();
    EXPECT_EQ(f.c.recentProjects, recent);
    EXPECT_EQ(f.c.projectSettings.ProjectFile, "[Unspecified]");

    f.ui.fileNames.push_back(f.Path("q.zk2"));
    f.c.OnProjectSaveAs();
    EXPECT_EQ(f.c.projectSettings.ProjectFile, f.Path("q.zk2"));
    EXPECT_EQ(f.c.recentProjects[0], f.Path("q.zk2"));
    EXPECT_EQ(f.c.recentProjects[1], f.Path("p.zk2"));

    // Close empties the buffers.
    f.c.projectSettings.Modified = true;
    f.c.OnProjectClose();
    EXPECT_FALSE(f.c.flashBuffer.HasData());
    EXPECT_TRUE(f.c.projectSettings.Modified);
    EXPECT_EQ(f.c.settings.ReadInt("Recent", "LoadMostRecent", -1), 0);

    // Reload of a project that has since disappeared says so instead of
    // "Project loaded".
    f.c.projectSettings.ProjectFile = f.Path("q.zk2");
    std::filesystem::remove(f.dir / "q.zk2");
    f.ui.Clear();
    f.c.OnProjectReload();
    EXPECT_EQ(f.ui.Texts(UiEvent::Box), std::vector<std::string>{Format(1024, f.Path("q.zk2").c_str())});
    EXPECT_EQ(f.ui.LastStatus(), "Project not loaded");
    EXPECT_EQ(f.c.settings.ReadInt("Recent", "LoadMostRecent", -1), 0);

    f.c.projectSettings.ProjectFile = f.Path("p.zk2");
    f.c.OnProjectReload();
    EXPECT_EQ(f.ui.LastStatus(), "Project loaded");
    EXPECT_EQ(f.c.projectSettings.SPIPeriod, 2);
    EXPECT_EQ(f.c.settings.ReadInt("Recent", "LoadMostRecent", -1), 1);
}

}  // namespace
}  // namespace zelko
