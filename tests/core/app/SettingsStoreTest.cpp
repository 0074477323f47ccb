#include "core/app/SettingsStore.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::ReadFile;
using test::TempDir;

// Sets an environment variable for one test and restores it afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvOverride()
    {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST(SettingsStoreTest, LocationFollowsXdgConfigHome)
{
    TempDir dir;
    {
        EnvOverride xdg("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(SettingsStore::DefaultPath(), dir.path() / "ZELKO" / "zelko.conf");
    }
    {
        EnvOverride xdg("XDG_CONFIG_HOME", nullptr);
        EnvOverride home("HOME", dir.path().c_str());
        EXPECT_EQ(SettingsStore::DefaultPath(), dir.path() / ".config" / "ZELKO" / "zelko.conf");
    }
    {
        // A relative value is not a valid base directory.
        EnvOverride xdg("XDG_CONFIG_HOME", "relative/dir");
        EnvOverride home("HOME", dir.path().c_str());
        EXPECT_EQ(SettingsStore::DefaultPath(), dir.path() / ".config" / "ZELKO" / "zelko.conf");
    }
}

TEST(SettingsStoreTest, DefaultsUntilWrittenThenCreatesDirectoryAndFile)
{
    TempDir dir;
    EnvOverride xdg("XDG_CONFIG_HOME", dir.path().c_str());
    SettingsStore store;
    EXPECT_EQ(store.ReadInt("Connect", "COM", 0), 0);
    EXPECT_EQ(store.ReadString("Recent", "Project1", "[Unspecified]"), "[Unspecified]");
    EXPECT_FALSE(std::filesystem::exists(store.Path()));

    ASSERT_TRUE(store.WriteInt("Connect", "COM", 3));
    ASSERT_TRUE(store.WriteInt("Connect", "HighSpeed", -1));
    ASSERT_TRUE(store.WriteInt("Language", "Russian", 1));
    ASSERT_TRUE(store.WriteString("Recent", "Project1", "/home/u/My Projects/a.zk2"));
    EXPECT_EQ(ReadFile(dir / "ZELKO/zelko.conf"),
              "[Connect]\nCOM=3\nHighSpeed=-1\n\n[Language]\nRussian=1\n\n"
              "[Recent]\nProject1=/home/u/My Projects/a.zk2\n");

    // Another store on the same file (another front end) sees the values.
    const SettingsStore other;
    EXPECT_EQ(other.ReadInt("connect", "com", 0), 3);
    EXPECT_EQ(other.ReadInt("Connect", "HighSpeed", 0), -1);
    EXPECT_EQ(other.ReadString("Recent", "Project1", ""), "/home/u/My Projects/a.zk2");
}

TEST(SettingsStoreTest, UnwritableLocationFailsQuietly)
{
    TempDir dir;
    test::WriteFile(dir / "file", "x");
    SettingsStore store(dir / "file" / "ZELKO" / "zelko.conf");  // parent is a plain file
    EXPECT_FALSE(store.WriteInt("Connect", "COM", 1));
    EXPECT_EQ(store.ReadInt("Connect", "COM", 7), 7);
    EXPECT_EQ(ReadFile(dir / "file"), "x");
}

}  // namespace
}  // namespace zelko
