#include "core/app/IniFile.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniFileTest, ReadsNamesWithoutRegardToCaseAndTrimsValues)
{
    const IniFile ini = IniFile::Parse(
        "; leading comment\n"
        "orphan=before any section\n"
        "[Files]\n"
        "  Flash  =   C:\\Work\\blink.hex   \n"
        "# hash comment\n"
        "flash=second one is ignored\n"
        "Empty=\n"
        "NoEquals\n"
        "[ Settings ]\n"
        "SPIPeriod=3\n");
    EXPECT_EQ(ini.ReadString("FILES", "fLaSh", "d"), "C:\\Work\\blink.hex");
    EXPECT_EQ(ini.ReadString("files", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("Files", "NoEquals", "d"), "d");
    EXPECT_EQ(ini.ReadString("Files", "orphan", "d"), "d");
    EXPECT_EQ(ini.ReadString("Files", "SPIPeriod", "d"), "d");  // belongs to the next section
    EXPECT_EQ(ini.ReadInt("settings", "spiperiod", -1), 3);
    EXPECT_EQ(ini.ReadString("Missing", "Flash", "dflt"), "dflt");
    EXPECT_FALSE(ini.Find("Files", "Eeprom").has_value());
}

TEST(IniFileTest, LengthLimitCutsTheValue)
{
    const IniFile ini = IniFile::Parse("[A]\nK=0123456789\n");
    EXPECT_EQ(ini.ReadString("A", "K", "", 4), "0123");
    EXPECT_EQ(ini.ReadString("A", "K", "", 0), "0123456789");
    EXPECT_EQ(ini.ReadString("A", "K", "", -1), "0123456789");
    EXPECT_EQ(ini.ReadString("A", "Missing", "defaultvalue", 3), "def");
}

TEST(IniFileTest, ReadIntTakesLeadingDigits)
{
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {
        {"12", 12},         {"12abc", 12},   {"-7", -7},       {"+5", 5},
        {"abc", 99},        {"", 99},        {"-", 99},        {"- 3", 99},
        {"0x1F", 0},        {"007", 7},      {"2147483647", INT_MAX},
        {"99999999999999999999", INT_MAX},   {"-99999999999999999999", INT_MIN},
        {"-2147483648", INT_MIN},
    };
    for (const Case& c : cases) {
        const IniFile ini = IniFile::Parse(std::string("[S]\nK=") + c.value + "\n");
        EXPECT_EQ(ini.ReadInt("S", "K", 99), c.expected) << "value '" << c.value << "'";
    }
    EXPECT_EQ(IniFile::Parse("[S]\n").ReadInt("S", "K", 42), 42);
}

TEST(IniFileTest, WriteKeepsEveryOtherLineAndPlacesNewKeys)
{
    IniFile ini = IniFile::Parse(
        "; my notes\n"
        "[Files]\n"
        "Flash = old.hex\n"
        "Custom=kept\n"
        "\n"
        "; about the next section\n"
        "[Other]\n"
        "X=1\n"
        "\n");
    ASSERT_TRUE(ini.WriteString("files", "FLASH", "new.hex"));  // replaced in place
    ASSERT_TRUE(ini.WriteString("Files", "Eeprom", "e.eep"));   // after the last key
    ASSERT_TRUE(ini.WriteString("Other", "Y", "2"));            // before trailing blank
    ASSERT_TRUE(ini.WriteString("Device", "DeviceNo", "17"));   // new section at the end
    EXPECT_EQ(ini.Text(),
              "; my notes\n"
              "[Files]\n"
              "Flash = new.hex\n"
              "Custom=kept\n"
              "Eeprom=e.eep\n"
              "\n"
              "; about the next section\n"
              "[Other]\n"
              "X=1\n"
              "Y=2\n"
              "\n"
              "[Device]\n"
              "DeviceNo=17\n");
}

TEST(IniFileTest, KeepsLineEndingsBomAndMissingFinalNewline)
{
    IniFile crlf = IniFile::Parse("\xEF\xBB\xBF[Files]\r\nFlash=C:\\a.hex\r\n[Settings]\r\nPolling=1");
    EXPECT_TRUE(crlf.UsesCrLf());
    EXPECT_EQ(crlf.ReadString("Files", "Flash", ""), "C:\\a.hex");
    EXPECT_EQ(crlf.ReadInt("Settings", "Polling", 0), 1);
    ASSERT_TRUE(crlf.WriteString("Files", "Eeprom", "b.eep"));
    ASSERT_TRUE(crlf.WriteString("Settings", "CheckSign", "0"));
    ASSERT_TRUE(crlf.WriteString("Delays", "DelayByte", "0"));
    EXPECT_EQ(crlf.Text(),
              "\xEF\xBB\xBF[Files]\r\nFlash=C:\\a.hex\r\nEeprom=b.eep\r\n[Settings]\r\nPolling=1\r\n"
              "CheckSign=0\r\n\r\n[Delays]\r\nDelayByte=0\r\n");

    // A file mixing endings keeps each line's own ending; new lines follow the first.
    IniFile mixed = IniFile::Parse("[A]\nK=1\r\n");
    ASSERT_TRUE(mixed.WriteString("A", "L", "2"));
    EXPECT_EQ(mixed.Text(), "[A]\nK=1\r\nL=2\n");

    IniFile empty;
    ASSERT_TRUE(empty.WriteString("A", "K", "v"));
    EXPECT_EQ(empty.Text(), "[A]\nK=v\n");
}

TEST(IniFileTest, RefusesWritesThatWouldBreakTheLineStructure)
{
    IniFile ini = IniFile::Parse("[A]\nK=1\n");
    const std::string before = ini.Text();
    EXPECT_FALSE(ini.WriteString("A", "K", "x\n[Evil]\nK=2"));
    EXPECT_FALSE(ini.WriteString("A", "K", "x\ry"));
    EXPECT_FALSE(ini.WriteString("A", "K=2", "v"));
    EXPECT_FALSE(ini.WriteString("A]", "K", "v"));
    EXPECT_FALSE(ini.WriteString("", "K", "v"));
    EXPECT_FALSE(ini.WriteString("A", " ", "v"));
    EXPECT_FALSE(ini.WriteString("A", ";K", "v"));
    EXPECT_EQ(ini.Text(), before);
    // '=' and ']' are fine inside a value.
    ASSERT_TRUE(ini.WriteString("A", "K", "a=b]c"));
    EXPECT_EQ(ini.ReadString("A", "K", ""), "a=b]c");
}

TEST(IniFileTest, FileHelpersRoundTripAndCreateMissingFile)
{
    TempDir dir;
    const auto path = dir / "p.ini";
    EXPECT_EQ(IniReadString(path, "A", "K", "none"), "none");
    EXPECT_EQ(IniReadInt(path, "A", "K", 5), 5);
    ASSERT_TRUE(IniWriteString(path, "A", "K", "12"));
    ASSERT_TRUE(IniWriteString(path, "a", "k", "13"));
    EXPECT_EQ(ReadFile(path), "[A]\nK=13\n");
    EXPECT_EQ(IniReadInt(path, "A", "K", 5), 13);

    IniFile ini;
    EXPECT_TRUE(ini.Load(path));
    // Neither a missing file nor something that is not a regular file is read;
    // a FIFO without a writer or an endless device must not hang the program.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::filesystem::path& p :
         {dir / "missing.ini", dir.path(), dir / "fifo", std::filesystem::path("/dev/zero")}) {
        EXPECT_FALSE(ini.Load(p)) << p;
        EXPECT_EQ(ini.Text(), "");
    }
}

TEST(IniFileTest, FailedSaveLeavesTheOldFile)
{
    TempDir dir;
    const auto path = dir / "p.ini";
    WriteFile(path, "[A]\nK=old\n");
    IniFile ini = IniFile::Parse("[A]\nK=new\n");

    // No file can be created beside the target: the old file stays whole and no
    // temporary file is left behind.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    const bool canStillWrite = ::access(dir.path().c_str(), W_OK) == 0;  // root ignores modes
    if (!canStillWrite) {
        EXPECT_FALSE(ini.Save(path));
        EXPECT_FALSE(IniWriteString(path, "A", "K", "new"));
        EXPECT_EQ(ReadFile(path), "[A]\nK=old\n");
    }
    ::chmod(dir.path().c_str(), 0700);

    // A write that runs out of space part-way (a file size limit stands in for
    // a full disk).
    {
        IniFile big;
        ASSERT_TRUE(big.WriteString("A", "K", std::string(4096, 'x')));
        rlimit old {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 100;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool saved = big.Save(path);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(saved);
        EXPECT_EQ(ReadFile(path), "[A]\nK=old\n");
    }

    // A target that is a directory is refused without touching it.
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(ini.Save(dir / "sub"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));

    // A directory that does not exist.
    EXPECT_FALSE(ini.Save(dir / "nowhere" / "p.ini"));

    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2u);  // p.ini and sub
}

TEST(IniFileTest, SaveKeepsModeAndFollowsSymlink)
{
    TempDir dir;
    const auto real = dir / "real.ini";
    const auto link = dir / "link.ini";
    WriteFile(real, "[A]\nK=1\n");
    ::chmod(real.c_str(), 0600);
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(IniWriteString(link, "A", "K", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "[A]\nK=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace zelko
