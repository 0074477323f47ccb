#include <cctype>
#include <cstdio>

#include "core/app/Controller.h"
#include "core/app/Messages.h"

namespace zelko {
namespace {

// The recent-projects slots hold at most this many characters; a longer path is
// not remembered, since a shortened one would name another file.
constexpr size_t kMaxRecentPath = 1025;

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string NumberedKey(const char* stem, int n)
{
    return stem + std::to_string(n);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::vector<std::string> tokens;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos)
                break;
            tokens.emplace_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            const size_t start = i;
            while (i < line.size() && !IsBlank(line[i]))
                ++i;
            tokens.emplace_back(line.substr(start, i - start));
        }
    }
    return tokens;
}

void Controller::LoadSettings()
{
    baudIndex = settings.ReadInt("Connect", "HighSpeed", 0);
    comPort = settings.ReadInt("Connect", "COM", 0);
    LanguageRussian = settings.ReadInt("Language", "Russian", 0) != 0;
    for (int i = 0; i < 4; ++i)
        boardDelays[static_cast<size_t>(i)] = settings.ReadInt("Connect", NumberedKey("Special", i + 1), 0);

    // The values index tables and become sleeps: a hand-edited file must not
    // take them out of range.
    if (baudIndex < 0 || baudIndex > 4)
        baudIndex = 0;
    if (comPort < 0)
        comPort = 0;
    for (int& d : boardDelays)
        if (d < 0)
            d = 0;
}

void Controller::SaveSettings()
{
    settings.WriteInt("Connect", "COM", comPort);
    settings.WriteInt("Connect", "HighSpeed", baudIndex);
    settings.WriteInt("Language", "Russian", LanguageRussian ? 1 : 0);
}

void Controller::LoadRecentProjects()
{
    for (int i = 0; i < 8; ++i) {
        std::string path = settings.ReadString("Recent", NumberedKey("Project", i + 1), kUnspecified);
        recentProjects[static_cast<size_t>(i)] = path.empty() ? kUnspecified : std::move(path);
    }
    ui_.RecentProjectsChanged();
}

void Controller::SaveRecentProjects()
{
    std::vector<std::pair<std::string, std::string>> values;
    for (int i = 0; i < 8; ++i) {
        const std::string& path = recentProjects[static_cast<size_t>(i)];
        values.emplace_back(NumberedKey("Project", i + 1), path.empty() ? kUnspecified : path);
    }
    settings.WriteStrings("Recent", values);
}

void Controller::AddRecentProject(const std::string& path)
{
    if (path.empty() || path.size() > kMaxRecentPath ||
        path.find_first_of("\r\n") != std::string::npos)
        return;
    size_t found = recentProjects.size() - 1;  // not found: the last slot drops out
    for (size_t j = 0; j < recentProjects.size(); ++j) {
        if (SameIgnoringCase(recentProjects[j], path)) {
            found = j;
            break;
        }
    }
    for (size_t j = found; j > 0; --j)
        recentProjects[j] = std::move(recentProjects[j - 1]);
    recentProjects[0] = path;
    SaveRecentProjects();
    ui_.RecentProjectsChanged();
}

}  // namespace zelko
