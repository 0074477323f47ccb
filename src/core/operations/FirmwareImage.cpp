#include "core/operations/FirmwareImage.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/app/Messages.h"

namespace zelko {
namespace fs = std::filesystem;

std::vector<std::string> FirmwareImageCandidates()
{
    std::vector<std::string> out;
    if (const char* env = std::getenv("ZELKO_FIRMWARE"); env && *env)
        out.emplace_back(env);
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        out.push_back((self.parent_path() / kFirmwareFileName).string());
        out.push_back((self.parent_path() / ".." / "share" / "zelko" / kFirmwareFileName).string());
    }
#ifdef ZELKO_DATA_DIR
    out.push_back((fs::path(ZELKO_DATA_DIR) / kFirmwareFileName).string());
#endif
    return out;
}

std::optional<FirmwareImage> ReadFirmwareImage(const std::string& path, std::string& triedPath)
{
    std::string chosen = path;
    if (chosen.empty()) {
        const auto candidates = FirmwareImageCandidates();
        for (const std::string& c : candidates) {
            std::error_code ec;
            if (fs::is_regular_file(c, ec)) {
                chosen = c;
                break;
            }
        }
        if (chosen.empty()) {
            triedPath = candidates.empty() ? kFirmwareFileName : candidates.back();
            return std::nullopt;
        }
    }
    triedPath = chosen;
    std::error_code ec;
    if (!fs::is_regular_file(chosen, ec))
        return std::nullopt;
    FirmwareImage image{chosen, fs::file_size(chosen, ec), {}};
    if (ec)
        return std::nullopt;
    if (image.fileSize != kFirmwareImageSize)
        return image;  // the wrong size is the caller's message, not a read error
    std::ifstream in(chosen, std::ios::binary);
    image.bytes.resize(kFirmwareImageSize);
    if (!in.read(reinterpret_cast<char*>(image.bytes.data()), kFirmwareImageSize))
        return std::nullopt;
    return image;
}

std::string FirmwareVersionOf(const std::vector<uint8_t>& image)
{
    // The board's images start with "ZI1F" and the three version characters
    // that the firmware reports ("10c" is shown as 1.0c).
    if (image.size() >= 7 && std::equal(image.begin(), image.begin() + 4, "ZI1F") &&
        std::all_of(image.begin() + 4, image.begin() + 7, [](uint8_t c) { return std::isalnum(c); }))
        return FormatText("%c.%c%c", image[4], image[5], image[6]);
    return kDefaultFirmwareVersion;
}

}  // namespace zelko
