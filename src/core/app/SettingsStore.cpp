#include "core/app/SettingsStore.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "core/app/IniFile.h"

namespace zelko {
namespace {

std::filesystem::path HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

}  // namespace

SettingsStore::SettingsStore() : file_(DefaultPath()) {}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path SettingsStore::DefaultPath()
{
    std::filesystem::path base;
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else
        base = HomeDir() / ".config";
    return base / "ZELKO" / "zelko.conf";
}

int SettingsStore::ReadInt(std::string_view section, std::string_view key, int defaultValue) const
{
    return IniReadInt(file_, section, key, defaultValue);
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const
{
    return IniReadString(file_, section, key, defaultValue);
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value)
{
    return WriteStrings(section, {{std::string(key), std::string(value)}});
}

bool SettingsStore::WriteStrings(std::string_view section,
                                 const std::vector<std::pair<std::string, std::string>>& values)
{
    std::error_code ec;
    const std::filesystem::path dir = file_.parent_path();
    if (!dir.empty())
        std::filesystem::create_directories(dir, ec);
    IniFile ini;
    if (!ini.Load(file_) && (std::filesystem::exists(file_, ec) || ec))
        return false;  // there but unreadable: never replace what we cannot keep
    for (const auto& [key, value] : values)
        if (!ini.WriteString(section, key, value))
            return false;
    return ini.Save(file_);
}

}  // namespace zelko
