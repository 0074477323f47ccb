// The programmer board's firmware image, shipped as a file beside the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelko {

inline constexpr size_t kFirmwareImageSize = 12288;
inline constexpr const char* kFirmwareFileName = "zi1-firmware.bin";
// Shown as the new version when the image carries none we can read.
inline constexpr const char* kDefaultFirmwareVersion = "10.15";

// Where the image is looked for when no path is given, in order: $ZELKO_FIRMWARE,
// the program's own directory, ../share/zelko beside it, the source tree's data.
std::vector<std::string> FirmwareImageCandidates();

struct FirmwareImage {
    std::string path;
    std::uintmax_t fileSize = 0;
    std::vector<uint8_t> bytes;  // empty unless the file has the image's size
};

// Reads the image at `path` (or the first candidate that exists when empty).
// nullopt when none is found or it cannot be read; `triedPath` names what was
// tried. The size is checked by the caller.
std::optional<FirmwareImage> ReadFirmwareImage(const std::string& path, std::string& triedPath);

// The version the image carries in its header (as "1.0c"), or
// kDefaultFirmwareVersion when it has none.
std::string FirmwareVersionOf(const std::vector<uint8_t>& image);

}  // namespace zelko
