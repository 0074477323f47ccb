#include "core/operations/FirmwareImage.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

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
    // Look for "version" (any case), optional separators, then digits '.' digits.
    const std::string key = "version";
    for (size_t i = 0; i + key.size() < image.size(); ++i) {
        size_t k = 0;
        while (k < key.size() && std::tolower(image[i + k]) == key[k])
            ++k;
        if (k != key.size())
            continue;
        size_t j = i + k;
        while (j < image.size() && (image[j] == ' ' || image[j] == ':' || image[j] == '='))
            ++j;
        std::string v;
        bool dot = false;
        while (j < image.size() && v.size() < 16 &&
               (std::isdigit(image[j]) || (image[j] == '.' && !dot && !v.empty()) ||
                (dot && std::isalpha(image[j])))) {
            dot = dot || image[j] == '.';
            v.push_back(static_cast<char>(image[j]));
            ++j;
        }
        if (dot && v.back() != '.')
            return v;
    }
    return kDefaultFirmwareVersion;
}

}  // namespace zelko
