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

using zelko::test::ReadFile;
using zelko::test::TempDir;
using zelko::test::WriteFile;

struct CliRun {
    int status;
    std::string out, err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char ch : s)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

CliRun Cli(const TempDir& dir, const std::string& args)
{
    const std::string out = (dir / "stdout").string(), err = (dir / "stderr").string();
    const std::string cmd = std::string(ZELKO_CLI) + " " + args + " >" + out + " 2>" + err;
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
}

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
        const CliRun r = Cli(dir, "image convert " + Quote(kFixtures + "/" + name) + " " + Quote(out));
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
        ASSERT_EQ(Cli(dir, "image convert " + Quote(bin) + " " + Quote(hex)).status, 0);
        const std::string cmd = "srec_cat " + Quote(hex) + " -intel -o " + Quote(back) + " -binary";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << size;
        EXPECT_EQ(ReadFile(back), image) << size;
    }
}

TEST(ImageCli, InfoPrintsLengthAndChecksum)
{
    TempDir dir;
    CliRun r = Cli(dir, "image info " + Quote(kFixtures + "/wide255.hex"));
    EXPECT_EQ(r.status, 0);
    const std::string image = ReadFile(kFixtures + "/wide255.hex.srec.bin");
    unsigned sum = 0xFF;  // the Flash buffer's pad byte
    for (unsigned char ch : image)
        sum += ch;
    EXPECT_EQ(r.out, zelko::Format(1041, 602, 602, sum & 0xFFFF) + "\n");

    r = Cli(dir, "image info --eeprom " + Quote(kFixtures + "/wide255.hex"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, zelko::Format(1074, 601, 601, (sum - 0xFF) & 0xFFFF) + "\n");

    // A broken HEX file still loads, as raw bytes, and says so.
    const std::string broken = (dir / "broken.hex").string();
    WriteFile(broken, ":03000000010203F7\n");
    r = Cli(dir, "image info " + Quote(broken));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(zelko::Format(2000, broken.c_str(), 18)), std::string::npos) << r.err;
}

TEST(ImageCli, QuestionsAndFailures)
{
    TempDir dir;
    const std::string in = kFixtures + "/blink.eep";
    const std::string raw = ReadFile(kFixtures + "/blink.eep.srec.bin");

    // A name of no known kind: the format question takes the safe No unless told.
    CliRun r = Cli(dir, "image convert " + Quote(in) + " " + Quote((dir / "a.txt").string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir / "a.txt"), raw);
    EXPECT_NE(r.err.find("No"), std::string::npos) << r.err;
    r = Cli(dir, "image convert --hex " + Quote(in) + " " + Quote((dir / "b.txt").string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir / "b.txt").substr(0, 1), ":");
    r = Cli(dir, "--yes --bin image convert " + Quote(in) + " " + Quote((dir / "c.txt").string()));
    EXPECT_EQ(ReadFile(dir / "c.txt"), raw);

    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"image info " + Quote((dir / "missing.hex").string()), 1},
        {"image convert " + Quote((dir / "missing.hex").string()) + " " + Quote((dir / "x.bin").string()), 1},
        {"image convert " + Quote(in) + " " + Quote((dir / "no/dir/x.bin").string()), 1},
        {"image info", 2},
        {"image frobnicate a b", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Cli(dir, c.args).status, c.status) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.bin"));
}

}  // namespace
