#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

using zelko::test::CliResult;
using zelko::test::RunCli;

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

TEST(DevicesCli, ListsEveryDeviceInTableOrder)
{
    const CliResult r = RunCli("devices");
    ASSERT_EQ(r.status, 0);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    const auto lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 86u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto fields = Split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 11u) << lines[i];
        EXPECT_EQ(fields[0], std::to_string(i));
    }

    const char* rows[] = {
        "0\tATtiny...\tATtiny13/13A\t1E 90 07\t1E 90 07\t1024\t64\t16\t2\t1\t0",
        "26\tATmega_sub1...\tATmega88A/88PA\t1E 93 0A\t1E 93 0F\t8192\t512\t32\t1\t18\t25",
        "48\tATmega_sub2...\tATmega328PB\t1E 95 16\t1E 95 16\t32768\t1024\t64\t1\t47\t27",
        "66\tATmega_sub2...\tATmega256xRFR2\t1E A8 02\t1E A8 03\t262144\t8192\t128\t1\t78\t35",
        "71\tAT89S...\tAT89S8253\t1E 73 FF\t1E 73 FF\t12288\t2048\t0\t0\t43\t28",
        "72\tAT86...\tAT86RF401\t1E 91 81\t1E 91 81\t2048\t128\t0\t0\t44\t7",
        "80\tAT90...\tAT90USB82\t1E 93 82\t1E 93 82\t8192\t512\t64\t4\t51\t37",
        "85\tATA...\tATA6603/6613\t1E 94 06\t1E 94 06\t16384\t512\t32\t1\t75\t25",
    };
    for (const char* row : rows) {
        const size_t index = std::stoul(row);
        EXPECT_EQ(lines[index], row);
    }
}

TEST(DevicesCli, HelpNamesTheCommandAndExtraWordsAreRefused)
{
    const CliResult help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  devices "), std::string::npos);

    const CliResult extra = RunCli("devices ATmega8");
    EXPECT_EQ(extra.status, 2);
    EXPECT_EQ(extra.out, "");
}

}  // namespace
