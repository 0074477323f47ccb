#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "core/app/Messages.h"
#include "support/TestSupport.h"

namespace {

using zelko::test::CliResult;
using zelko::test::ReadFile;
using zelko::test::RunCli;
using zelko::test::ShellQuote;
using zelko::test::TempDir;
using zelko::test::WriteFile;

bool HaveSrecCat()
{
    return std::system("srec_cat -version >/dev/null 2>&1") == 0;
}

const std::string kFixtures = ZELKO_FIXTURES;

TEST(ImageCli, ConvertMatchesSrecCatBinaries)
{
    TempDir dir;
    for (const char* name : {"blink.hex", "blink.eep", "big04.hex", "seg02.hex", "wide255.hex"}) {
        const std::string out = (dir / (std::string(name) + ".bin")).string();
        const CliResult r = RunCli("image convert " + ShellQuote(kFixtures + "/" + name) + " " + ShellQuote(out));
        EXPECT_EQ(r.status, 0) << name << r.err;
        EXPECT_EQ(r.err, "") << name;
        EXPECT_EQ(ReadFile(out), ReadFile(kFixtures + "/" + name + ".srec.bin")) << name;
    }
}

// What zelko writes, srec_cat reads back to the same bytes: the segment records
// below 1 MiB and the linear records above.
TEST(ImageCli, WrittenHexIsReadBySrecCat)
{
    if (!HaveSrecCat())
        GTEST_SKIP() << "srec_cat not installed";
    TempDir dir;
    std::mt19937 rng(3);
    for (size_t size : {size_t{17}, size_t{0x10010}, size_t{0x120001}}) {
        std::string image(size, '\0');
        for (char& ch : image)
            ch = static_cast<char>(rng());
        const std::string bin = (dir / "in.bin").string(), hex = (dir / "out.hex").string(),
                          back = (dir / "back.bin").string();
        WriteFile(bin, image);
        ASSERT_EQ(RunCli("image convert " + ShellQuote(bin) + " " + ShellQuote(hex)).status, 0);
        const std::string cmd = "srec_cat " + ShellQuote(hex) + " -intel -o " + ShellQuote(back) + " -binary";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << size;
        EXPECT_EQ(ReadFile(back), image) << size;
    }
}

TEST(ImageCli, InfoPrintsLengthAndChecksum)
{
    TempDir dir;
    CliResult r = RunCli("image info " + ShellQuote(kFixtures + "/wide255.hex"));
    EXPECT_EQ(r.status, 0);
    const std::string image = ReadFile(kFixtures + "/wide255.hex.srec.bin");
    unsigned sum = 0xFF;  // the Flash buffer's pad byte
    for (unsigned char ch : image)
        sum += ch;
    EXPECT_EQ(r.out, zelko::Format(1041, 602, 602, sum & 0xFFFF) + "\n");

    r = RunCli("image info --eeprom " + ShellQuote(kFixtures + "/wide255.hex"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, zelko::Format(1074, 601, 601, (sum - 0xFF) & 0xFFFF) + "\n");

    // A broken HEX file still loads, as raw bytes, and says so.
    const std::string broken = (dir / "broken.hex").string();
    WriteFile(broken, ":03000000010203F7\n");
    r = RunCli("image info " + ShellQuote(broken));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(zelko::Format(2000, broken.c_str(), 18)), std::string::npos) << r.err;
}

TEST(ImageCli, QuestionsAndFailures)
{
    TempDir dir;
    const std::string in = kFixtures + "/blink.eep";
    const std::string raw = ReadFile(kFixtures + "/blink.eep.srec.bin");

    // A name of no known kind: the format question takes the safe No unless told.
    CliResult r = RunCli("image convert " + ShellQuote(in) + " " + ShellQuote((dir / "a.txt").string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir / "a.txt"), raw);
    EXPECT_NE(r.err.find("No"), std::string::npos) << r.err;
    r = RunCli("image convert --hex " + ShellQuote(in) + " " + ShellQuote((dir / "b.txt").string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir / "b.txt").substr(0, 1), ":");
    r = RunCli("--yes --bin image convert " + ShellQuote(in) + " " + ShellQuote((dir / "c.txt").string()));
    EXPECT_EQ(ReadFile(dir / "c.txt"), raw);

    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"image info " + ShellQuote((dir / "missing.hex").string()), 1},
        {"image convert " + ShellQuote((dir / "missing.hex").string()) + " " + ShellQuote((dir / "x.bin").string()), 1},
        {"image convert " + ShellQuote(in) + " " + ShellQuote((dir / "no/dir/x.bin").string()), 1},
        {"image info", 2},
        {"image frobnicate a b", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunCli(c.args).status, c.status) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.bin"));
}

}  // namespace
