// Intel HEX and raw binary image files: the reader, the writer and the choice
// between them. Pure functions: the caller shows every message; the one
// question of the reader (a bad checksum) is asked through a callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelko {

// Intel HEX addresses stay below this bound, and a raw image is at most this long.
inline constexpr size_t kImageLimit = 0x800000;

// What the extension of a path says about its contents (last four characters,
// case ignored).
enum class ImageKind { Binary, IntelHex, Other };
ImageKind KindOfPath(std::string_view path);

enum class HexStatus {
    Ok,
    NotHex,           // not a well-formed sequence of records ending with an end record
    Error,            // a record that lies about itself or an address out of range ("Error in HEX file")
    ChecksumRefused,  // the user answered No to the checksum question
};

// Asked at most once per file, at the first data record whose checksum is
// wrong; true = go on as HEX and test no further checksums.
using ChecksumQuestion = std::function<bool()>;

// Reads Intel HEX records: data (00), end of file (01), extended segment
// address (02) and extended linear address (04); other types are skipped.
// On Ok, `image` holds the bytes up to the highest address written, gaps 0xFF.
// Throws std::bad_alloc only when memory runs out.
HexStatus ParseIntelHex(const uint8_t* bytes, size_t count, const ChecksumQuestion& ask,
                        std::vector<uint8_t>& image);

struct DecodedImage {
    std::vector<uint8_t> image;
    HexStatus hexStatus = HexStatus::Ok;  // of the HEX attempt (Ok when none was made)
    bool triedHex = false;
    bool raw = false;  // the file's bytes were taken as they are
    // The HEX reader failed and the file was taken as raw bytes instead.
    bool FellBackToRaw() const { return triedHex && raw; }
};

// Chooses between Intel HEX and raw binary by the extension; when the HEX
// reader fails the first kImageLimit bytes of the file are the image.
DecodedImage DecodeImage(const uint8_t* bytes, size_t count, std::string_view path,
                         const ChecksumQuestion& ask);

// Appends the Intel HEX text of an image: CR LF lines, 16 data bytes per
// record, extended segment records at every 64 KiB up to 1 MiB and extended
// linear address records from 1 MiB on, then the end record.
void WriteIntelHex(const uint8_t* data, size_t length, std::string& out);

// The Load Address dialog's reading of its text (at most 6 characters): a
// decimal or hexadecimal integer with an optional sign; a text that does not
// start with a digit of the base gives 0. May be negative in either base.
long long ParseLoadAddress(std::string_view text, bool hexadecimal);
// The dialog's proposal: upper-case hexadecimal, at least four digits.
std::string FormatLoadAddress(int proposal);

}  // namespace zelko
