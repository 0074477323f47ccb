#include "core/buffers/ImageFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace zelko {
namespace {

// Digit values; 0x10 marks a character that is no hex digit, so OR-ing the
// values of a whole record tells at once whether any was bad.
constexpr uint8_t kBad = 0x10;
constexpr std::array<uint8_t, 256> MakeHexTable()
{
    std::array<uint8_t, 256> t{};
    for (auto& v : t)
        v = kBad;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        t[c] = static_cast<uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] = static_cast<uint8_t>(c - 'A' + 10);
    return t;
}
constexpr std::array<uint8_t, 256> kHex = MakeHexTable();

// Characters allowed between ':' and the line feed: 255 data bytes make the
// longest record, 2 + 4 + 2 + 510 + 2 digits.
constexpr size_t kMaxRecordChars = 520;

inline unsigned Pair(const uint8_t* p, unsigned& bad)
{
    const unsigned hi = kHex[p[0]], lo = kHex[p[1]];
    bad |= hi | lo;
    return (hi << 4) | lo;
}

std::vector<uint8_t> RawCopy(const uint8_t* bytes, size_t count)
{
    const size_t n = std::min(count, kImageLimit);
    return std::vector<uint8_t>(bytes, bytes + n);
}

constexpr char kUpperDigits[] = "0123456789ABCDEF";

inline char* PutByte(char* p, unsigned v)
{
    p[0] = kUpperDigits[(v >> 4) & 0xF];
    p[1] = kUpperDigits[v & 0xF];
    return p + 2;
}

}  // namespace

ImageKind KindOfPath(std::string_view path)
{
    if (path.size() < 4)
        return ImageKind::Other;
    char ext[5] = {};
    for (size_t i = 0; i < 4; ++i) {
        char c = path[path.size() - 4 + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        ext[i] = c;
    }
    if (std::strcmp(ext, ".bin") == 0)
        return ImageKind::Binary;
    if (std::strcmp(ext, ".hex") == 0 || std::strcmp(ext, ".eep") == 0)
        return ImageKind::IntelHex;
    return ImageKind::Other;
}

HexStatus ParseIntelHex(const uint8_t* bytes, size_t count, const ChecksumQuestion& ask,
                        std::vector<uint8_t>& image)
{
    image.clear();
    // HEX text needs at least two characters per byte; reserving that much
    // avoids most regrowth without committing 8 MiB for a small file.
    image.reserve(std::min(count / 2, kImageLimit));
    size_t end = 0;
    uint64_t base = 0;
    bool testChecksums = true;
    size_t pos = 0;

    for (;;) {
        if (pos >= count || bytes[pos] != ':')
            return HexStatus::NotHex;
        const uint8_t* rec = bytes + pos + 1;
        const size_t avail = count - pos - 1;
        const void* lf = std::memchr(rec, '\n', std::min(avail, kMaxRecordChars + 1));
        if (!lf)
            return HexStatus::NotHex;
        const size_t lineChars = static_cast<size_t>(static_cast<const uint8_t*>(lf) - rec);

        // A record must fit in its own line: count, address, type, data, checksum.
        if (lineChars < 10)
            return HexStatus::Error;
        unsigned bad = 0;
        const unsigned n = Pair(rec, bad);
        if (bad & kBad || lineChars < 10 + 2 * static_cast<size_t>(n))
            return HexStatus::Error;
        const unsigned addrHi = Pair(rec + 2, bad);
        const unsigned addrLo = Pair(rec + 4, bad);
        const unsigned type = Pair(rec + 6, bad);
        const unsigned checksum = Pair(rec + 8 + 2 * n, bad);
        if (bad & kBad)
            return HexStatus::Error;
        const uint8_t* digits = rec + 8;
        unsigned sum = n + addrHi + addrLo + type + checksum;

        if (type == 0x00) {
            const uint64_t a = base + (addrHi << 8 | addrLo);
            if (a + n > kImageLimit)
                return HexStatus::Error;
            const size_t recEnd = static_cast<size_t>(a) + n;
            if (recEnd > image.size())
                image.resize(recEnd, 0xFF);
            end = std::max(end, recEnd);
            uint8_t* dst = image.data() + a;
            for (unsigned j = 0; j < n; ++j) {
                const unsigned v = Pair(digits + 2 * j, bad);
                dst[j] = static_cast<uint8_t>(v);
                sum += v;
            }
            if (bad & kBad)
                return HexStatus::Error;
            if (testChecksums && (sum & 0xFF) != 0) {
                if (!ask || !ask())
                    return HexStatus::ChecksumRefused;
                testChecksums = false;
            }
        } else {
            for (unsigned j = 0; j < n; ++j)
                Pair(digits + 2 * j, bad);
            if (bad & kBad)
                return HexStatus::Error;
            if (type == 0x01) {
                image.resize(end);
                return HexStatus::Ok;
            }
            if (type == 0x02 || type == 0x04) {
                if (n < 2)
                    return HexStatus::Error;
                const uint64_t value = Pair(digits, bad) << 8 | Pair(digits + 2, bad);
                base = type == 0x02 ? value << 4 : value << 16;
            }
        }
        pos += 1 + lineChars + 1;
    }
}

DecodedImage DecodeImage(const uint8_t* bytes, size_t count, std::string_view path,
                         const ChecksumQuestion& ask)
{
    DecodedImage result;
    if (KindOfPath(path) != ImageKind::Binary) {
        result.triedHex = true;
        result.hexStatus = ParseIntelHex(bytes, count, ask, result.image);
        if (result.hexStatus == HexStatus::Ok)
            return result;
        std::vector<uint8_t>().swap(result.image);
    }
    result.raw = true;
    result.image = RawCopy(bytes, count);
    return result;
}

void WriteIntelHex(const uint8_t* data, size_t length, std::string& out)
{
    // 16 data bytes make a 45-character line; a 64 KiB block adds one more record.
    out.reserve(out.size() + (length / 16 + 1) * 45 + (length / 65536 + 1) * 17 + 13);
    char line[64];
    for (size_t off = 0; off < length; off += 16) {
        if (off % 65536 == 0) {
            const unsigned block = static_cast<unsigned>(off >> 16);
            if (off < 0x100000) {
                // Extended segment address: the segment is block x 0x1000.
                if (off != 0 || length >= 65536) {
                    char* p = line;
                    std::memcpy(p, ":02000002", 9);
                    p += 9;
                    *p++ = kUpperDigits[block & 0xF];
                    std::memcpy(p, "000", 3);
                    p += 3;
                    p = PutByte(p, (0u - ((off >> 12) + 4)) & 0xFF);
                    *p++ = '\r';
                    *p++ = '\n';
                    out.append(line, static_cast<size_t>(p - line));
                }
            } else {
                // Segments end at 1 MiB; from there on extended linear addresses.
                char* p = line;
                std::memcpy(p, ":02000004", 9);
                p += 9;
                p = PutByte(p, block >> 8);
                p = PutByte(p, block);
                p = PutByte(p, (0u - (2 + 4 + (block >> 8) + (block & 0xFF))) & 0xFF);
                *p++ = '\r';
                *p++ = '\n';
                out.append(line, static_cast<size_t>(p - line));
            }
        }
        const unsigned n = static_cast<unsigned>(std::min<size_t>(16, length - off));
        const unsigned addr = static_cast<unsigned>(off & 0xFFFF);
        char* p = line;
        *p++ = ':';
        p = PutByte(p, n);
        p = PutByte(p, addr >> 8);
        p = PutByte(p, addr);
        *p++ = '0';
        *p++ = '0';
        unsigned sum = n + (addr >> 8) + (addr & 0xFF);
        for (unsigned j = 0; j < n; ++j) {
            const unsigned v = data[off + j];
            sum += v;
            p = PutByte(p, v);
        }
        p = PutByte(p, (0u - sum) & 0xFF);
        *p++ = '\r';
        *p++ = '\n';
        out.append(line, static_cast<size_t>(p - line));
    }
    out.append(":00000001FF\r\n");
}

long long ParseLoadAddress(std::string_view text, bool hexadecimal)
{
    text = text.substr(0, 6);  // the edit holds at most six characters
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const unsigned radix = hexadecimal ? 16 : 10;
    if (hexadecimal && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && i + 2 < text.size() && kHex[static_cast<uint8_t>(text[i + 2])] < 16)
        i += 2;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned d = kHex[static_cast<uint8_t>(text[i])];
        if (d >= radix)
            break;
        value = value * radix + d;
    }
    return negative ? -value : value;
}

std::string FormatLoadAddress(int proposal)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(proposal));
    return text;
}

}  // namespace zelko
