// The per-user settings: an INI file at $XDG_CONFIG_HOME/ZELKO/zelko.conf
// (~/.config/ZELKO/zelko.conf when the variable is unset), shared by the GUI and
// zelko-cli. Sections in use: Connect (COM, HighSpeed, Special1..Special4),
// Ports (COM<N> = device path), Language (Russian), Recent (LoadMostRecent,
// Project1..Project8).
//
// Every call reads the file afresh, so two front ends running at once see each
// other's changes; a missing or unreadable file reads as defaults. Writes
// create the directory and replace the file atomically; they fail silently
// (a settings value that cannot be stored is not worth stopping the user for).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelko {

class SettingsStore {
public:
    // The user's settings file (DefaultPath()).
    SettingsStore();
    // Settings kept in another file.
    explicit SettingsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME/ZELKO/zelko.conf when the variable holds an absolute
    // path, otherwise $HOME/.config/ZELKO/zelko.conf.
    static std::filesystem::path DefaultPath();

    const std::filesystem::path& Path() const { return file_; }

    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // True when the value was stored.
    bool WriteInt(std::string_view section, std::string_view key, int value);
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Several keys of one section in one rewrite of the file.
    bool WriteStrings(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& values);

private:
    std::filesystem::path file_;
};

}  // namespace zelko
