// libFuzzer target for the Intel HEX reader and the image decoder. Besides
// "no crash, no leak, no undefined behaviour" it checks that an image that was
// read stays within the bound and survives a write and a second read intact.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/buffers/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelko;
    // The last byte steers the answers to the checksum question.
    const bool answer = size > 0 && (data[size - 1] & 1);
    int questions = 0;
    ChecksumQuestion ask = [&] {
        ++questions;
        return answer;
    };

    std::vector<uint8_t> image;
    const HexStatus status = ParseIntelHex(data, size, ask, image);
    if (questions > 1)
        std::abort();  // asked at most once per file
    if (status == HexStatus::Ok) {
        if (image.size() > kImageLimit)
            std::abort();
        if (image.size() <= (128u << 10)) {
            std::string text;
            WriteIntelHex(image.data(), image.size(), text);
            std::vector<uint8_t> again;
            if (ParseIntelHex(reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr,
                              again)
                    != HexStatus::Ok
                || again != image)
                std::abort();
        }
    }

    for (const char* path : {"f.hex", "f.bin"}) {
        const DecodedImage d = DecodeImage(data, size, path, [] { return false; });
        if (d.image.size() > kImageLimit || (d.raw && d.image.size() != std::min(size, kImageLimit)))
            std::abort();
    }
    return 0;
}
