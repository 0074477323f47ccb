// libFuzzer target for the INI layer and the project-file reader. Besides "no
// crash, no leak, no undefined behaviour" it checks the promises the rest of
// the program relies on: text survives a parse untouched, a written key reads
// back, a write leaves other keys alone, and a project read from any text names
// a real device and in-range table indexes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/app/IniFile.h"
#include "core/buffers/ProjectFile.h"
#include "core/buffers/ProjectSettings.h"
#include "core/devices/DeviceTable.h"

namespace {

std::string_view TrimBlanks(std::string_view s)
{
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelko;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    IniFile ini = IniFile::Parse(input);
    Check(ini.Text() == input);

    // The project reader on arbitrary text.
    ProjectSettings project;
    ReadProjectKeys(ini, project);
    Check(project.DeviceIndex >= 0 && project.DeviceIndex < kDeviceCount);
    Check(project.SPIPeriod >= 0 && project.SPIPeriod <= 6);
    Check(project.LockFuse.lockMode >= 0 && project.LockFuse.lockMode <= 3);
    (void)ini.ReadString("Files", "Flash", "Test1", 250);
    (void)ini.ReadInt("Files", "FlashInvert", 0);

    // Names and a value taken from the input itself, so writes hit the
    // sections and keys the input has.
    const size_t a = size / 3, b = 2 * size / 3;
    const std::string_view section = input.substr(0, a % 24);
    const std::string_view key = input.substr(a, (b - a) % 24);
    const std::string_view value = input.substr(b);

    const std::string otherBefore = ini.ReadString("Settings", "SPIPeriod", "\x01missing");
    IniFile written = ini;
    if (written.WriteString(section, key, value)) {
        const IniFile reread = IniFile::Parse(written.Text());
        const std::optional<std::string> back = reread.Find(section, key);
        Check(back.has_value() && *back == TrimBlanks(value));
        if (!IniFile::NamesEqual(TrimBlanks(section), "Settings") ||
            !IniFile::NamesEqual(TrimBlanks(key), "SPIPeriod"))
            Check(reread.ReadString("Settings", "SPIPeriod", "\x01missing") == otherBefore);
    } else {
        Check(written.Text() == ini.Text());
    }

    // A project written into the text reads back the same.
    IniFile withProject = ini;
    project.ResetStrobeLength = static_cast<int32_t>(size);
    if (WriteProjectKeys(withProject, project, "[Unspecified]", "e.eep")) {
        ProjectSettings again;
        ReadProjectKeys(IniFile::Parse(withProject.Text()), again);
        Check(again.DeviceIndex == project.DeviceIndex);
        Check(again.ResetStrobeLength == project.ResetStrobeLength);
        Check(again.SPIPeriod == project.SPIPeriod);
        Check(again.LockFuse == project.LockFuse);
    }
    return 0;
}
