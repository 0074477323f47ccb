#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/app/SettingsStore.h"
#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::ReadFile;
using test::RecordingUi;
using test::TempDir;
using test::WriteFile;

class CountingUi : public RecordingUi {
public:
    void RecentProjectsChanged() override { ++recentChanges; }
    int recentChanges = 0;
};

struct Fixture {
    TempDir dir;
    CountingUi ui;
    Controller c{ui};
    Fixture() { c.settings = SettingsStore(dir / "zelko.conf"); }
    std::string Conf() const { return ReadFile(dir / "zelko.conf"); }
};

TEST(RecentProjectsTest, LoadFillsMissingSlotsWithUnspecified)
{
    Fixture f;
    WriteFile(f.dir / "zelko.conf", "[Recent]\nproject1=/p/a.zk2\nProject2=\nPROJECT3=/p/c.zk2\n");
    f.c.LoadRecentProjects();
    EXPECT_EQ(f.c.recentProjects[0], "/p/a.zk2");
    EXPECT_EQ(f.c.recentProjects[1], "[Unspecified]");
    EXPECT_EQ(f.c.recentProjects[2], "/p/c.zk2");
    for (size_t i = 3; i < 8; ++i)
        EXPECT_EQ(f.c.recentProjects[i], "[Unspecified]");
    EXPECT_EQ(f.ui.recentChanges, 1);
}

TEST(RecentProjectsTest, AddMovesToTopDropsOldestAndMatchesWithoutCase)
{
    Fixture f;
    f.c.LoadRecentProjects();
    for (int i = 1; i <= 9; ++i)
        f.c.AddRecentProject("/p/" + std::to_string(i) + ".zk2");
    // Nine added into eight slots: the first one fell out.
    EXPECT_EQ(f.c.recentProjects[0], "/p/9.zk2");
    EXPECT_EQ(f.c.recentProjects[7], "/p/2.zk2");

    // A path already listed under another letter case moves up, keeping no
    // duplicate, and takes the spelling it was opened with.
    f.c.AddRecentProject("/P/5.ZK2");
    const std::vector<std::string> expected = {"/P/5.ZK2", "/p/9.zk2", "/p/8.zk2", "/p/7.zk2",
                                               "/p/6.zk2", "/p/4.zk2", "/p/3.zk2", "/p/2.zk2"};
    EXPECT_EQ(std::vector<std::string>(f.c.recentProjects.begin(), f.c.recentProjects.end()),
              expected);
    EXPECT_EQ(f.ui.recentChanges, 1 + 10);

    // Every change is stored at once; a second controller reads the same list.
    Fixture g;
    g.c.settings = f.c.settings;
    g.c.LoadRecentProjects();
    EXPECT_EQ(g.c.recentProjects, f.c.recentProjects);
}

TEST(RecentProjectsTest, OverlongOrMultiLinePathLeavesTheListAsItWas)
{
    Fixture f;
    f.c.LoadRecentProjects();
    f.c.AddRecentProject("/p/a.zk2");
    const auto before = f.c.recentProjects;
    const std::string conf = f.Conf();
    const int changes = f.ui.recentChanges;

    const std::string longest = "/" + std::string(1024, 'x');  // 1025 characters fit
    const std::string tooLong = longest + "y";
    f.c.AddRecentProject(tooLong);
    f.c.AddRecentProject("/p/evil\n[Connect]\nCOM=9");
    f.c.AddRecentProject("");
    EXPECT_EQ(f.c.recentProjects, before);
    EXPECT_EQ(f.Conf(), conf);
    EXPECT_EQ(f.ui.recentChanges, changes);

    f.c.AddRecentProject(longest);
    EXPECT_EQ(f.c.recentProjects[0], longest);
    EXPECT_EQ(f.c.recentProjects[1], "/p/a.zk2");
}

TEST(RecentProjectsTest, SaveWritesEverySlot)
{
    Fixture f;
    f.c.recentProjects.fill("");
    f.c.recentProjects[0] = "/p/a.zk2";
    f.c.SaveRecentProjects();
    EXPECT_EQ(f.Conf(),
              "[Recent]\nProject1=/p/a.zk2\nProject2=[Unspecified]\nProject3=[Unspecified]\n"
              "Project4=[Unspecified]\nProject5=[Unspecified]\nProject6=[Unspecified]\n"
              "Project7=[Unspecified]\nProject8=[Unspecified]\n");
}

TEST(SettingsTest, LoadAndSaveConnectionAndLanguage)
{
    Fixture f;
    WriteFile(f.dir / "zelko.conf",
              "; kept\n[Connect]\nCOM=3\nHighSpeed=2\nSpecial1=5\nSpecial2=6\nSpecial3=7\nSpecial4=8\n"
              "[Language]\nRussian=1\n");
    f.c.LoadSettings();
    EXPECT_EQ(f.c.comPort, 3);
    EXPECT_EQ(f.c.baudIndex, 2);
    EXPECT_TRUE(LanguageRussian);
    EXPECT_EQ(f.c.boardDelays, (std::array<int, 4>{5, 6, 7, 8}));

    f.c.comPort = 4;
    f.c.baudIndex = 1;
    LanguageRussian = false;
    f.c.SaveSettings();
    EXPECT_EQ(f.Conf(),
              "; kept\n[Connect]\nCOM=4\nHighSpeed=1\nSpecial1=5\nSpecial2=6\nSpecial3=7\nSpecial4=8\n"
              "[Language]\nRussian=0\n");
}

TEST(SettingsTest, MissingOrOutOfRangeValuesReadAsDefaults)
{
    Fixture f;
    f.c.comPort = 9;
    f.c.LoadSettings();  // no file at all
    EXPECT_EQ(f.c.comPort, 0);
    EXPECT_EQ(f.c.baudIndex, 0);
    EXPECT_FALSE(LanguageRussian);
    EXPECT_EQ(f.c.boardDelays, (std::array<int, 4>{}));

    // Hand-edited values that would index past the speed table or sleep for a
    // negative time.
    WriteFile(f.dir / "zelko.conf", "[Connect]\nCOM=-2\nHighSpeed=5\nSpecial1=-1\nSpecial2=20\n"
                                    "[Language]\nRussian=7\n");
    f.c.LoadSettings();
    EXPECT_EQ(f.c.comPort, 0);
    EXPECT_EQ(f.c.baudIndex, 0);
    EXPECT_TRUE(LanguageRussian);
    EXPECT_EQ(f.c.boardDelays, (std::array<int, 4>{0, 20, 0, 0}));
    LanguageRussian = false;
}

TEST(CommandLineTest, SplitsIntoTokens)
{
    struct Case {
        const char* line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"zelko", {"zelko"}},
        {"  zelko   p.zk2\t-autoprogram  ", {"zelko", "p.zk2", "-autoprogram"}},
        {"\"/opt/my zelko/zelko\" \"/home/u/My Projects/p.zk2\" -quietautoprogram",
         {"/opt/my zelko/zelko", "/home/u/My Projects/p.zk2", "-quietautoprogram"}},
        {"zelko \"\" x", {"zelko", "", "x"}},
        {"zelko \"a\"b", {"zelko", "a", "b"}},
        {"zelko \"unclosed p.zk2", {"zelko"}},
        {"zelko a\"b", {"zelko", "a\"b"}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.tokens) << "line: " << c.line;
}

}  // namespace
}  // namespace zelko
