#include "core/buffers/ImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace zelko {
namespace {

// A record line with a correct checksum, without the line end.
std::string Record(unsigned type, unsigned address, const std::vector<uint8_t>& data)
{
    char buf[16];
    std::string s = ":";
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    s += buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return s + buf;
}

const std::string kEnd = ":00000001FF\n";

struct Parsed {
    HexStatus status;
    std::vector<uint8_t> image;
    int questions = 0;
};

Parsed Parse(const std::string& text, bool answer = true)
{
    Parsed p;
    ChecksumQuestion ask = [&] {
        ++p.questions;
        return answer;
    };
    p.status = ParseIntelHex(reinterpret_cast<const uint8_t*>(text.data()), text.size(), ask, p.image);
    return p;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v)
{
    return std::vector<uint8_t>(v.begin(), v.end());
}

TEST(IntelHexRead, RecordsOutOfOrderLeaveAnErasedGap)
{
    std::vector<uint8_t> a(16, 0x11), b(16, 0x22);
    const Parsed p = Parse(Record(0, 0x100, b) + "\r\n" + Record(0, 0x000, a) + "\r\n" + kEnd);
    ASSERT_EQ(p.status, HexStatus::Ok);
    ASSERT_EQ(p.image.size(), 0x110u);
    EXPECT_EQ(p.image[0x0F], 0x11);
    for (size_t i = 0x10; i < 0x100; ++i)
        ASSERT_EQ(p.image[i], 0xFF) << i;
    EXPECT_EQ(p.image[0x100], 0x22);
    EXPECT_EQ(p.questions, 0);
}

TEST(IntelHexRead, LaterRecordsOverwriteEarlierOnesAndTextAfterTheEndIsIgnored)
{
    const Parsed p = Parse(Record(0, 0, Bytes({1, 2, 3, 4})) + "\n" + Record(0, 1, Bytes({9})) + "\n"
                           + kEnd + "garbage that is not HEX\n");
    ASSERT_EQ(p.status, HexStatus::Ok);
    EXPECT_EQ(p.image, Bytes({1, 9, 3, 4}));
}

TEST(IntelHexRead, OnlyAnEndRecordGivesAnEmptyImage)
{
    const Parsed p = Parse(kEnd);
    EXPECT_EQ(p.status, HexStatus::Ok);
    EXPECT_TRUE(p.image.empty());
}

TEST(IntelHexRead, LowerCaseDigitsAndCarriageReturnsAreAccepted)
{
    const Parsed p = Parse(":0200000012abcf\r\n:00000001ff\r\n");
    ASSERT_EQ(p.status, HexStatus::Ok);
    EXPECT_EQ(p.image, Bytes({0x12, 0xAB}));
}

// Files that are not a sequence of records ending with an end record: the
// caller falls back to raw binary without "Error in HEX file".
TEST(IntelHexRead, MalformedFilesAreNotHex)
{
    const std::string data = Record(0, 0, Bytes({1, 2})) + "\n";
    const std::string cases[] = {
        "",
        data,                                  // no end record
        data + "\n" + kEnd,                    // empty line before the end
        data + "; comment\n" + kEnd,           // a line not starting with ':'
        data + ":00000001FF",                  // end record without a line feed
        "\xEF\xBB\xBF" + data + kEnd,          // byte order mark
        "Hello, world\n",
    };
    for (const std::string& text : cases)
        EXPECT_EQ(Parse(text).status, HexStatus::NotHex) << text;
}

TEST(IntelHexRead, RecordLinesUpTo520CharactersAreRead)
{
    std::vector<uint8_t> data(255);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    const std::string longest = Record(0, 0, data);  // 520 characters after ':'
    ASSERT_EQ(longest.size(), 521u);
    Parsed p = Parse(longest + "\n" + kEnd);
    ASSERT_EQ(p.status, HexStatus::Ok);
    EXPECT_EQ(p.image, data);

    // Trailing characters are ignored only within the limit.
    EXPECT_EQ(Parse(Record(0, 0, Bytes({7})) + std::string(510 - 2, ' ') + "\n" + kEnd).status,
              HexStatus::Ok);
    EXPECT_EQ(Parse(longest + "\r\n" + kEnd).status, HexStatus::NotHex);  // 521 characters
}

TEST(IntelHexRead, SegmentAndLinearAddressRecordsSetTheBase)
{
    const std::vector<uint8_t> one = Bytes({0xA5});
    struct Case {
        std::string records;
        size_t address;  // where the 0xA5 lands
    } cases[] = {
        {Record(2, 0, Bytes({0x10, 0x00})) + "\n" + Record(0, 0x0010, one), 0x10010},
        {Record(4, 0, Bytes({0x00, 0x01})) + "\n" + Record(0, 0x0010, one), 0x10010},
        {Record(4, 0, Bytes({0x00, 0x7F})) + "\n" + Record(0, 0xFFFF, one), 0x7FFFFF},
        // A later record of either kind replaces the base of the other.
        {Record(4, 0, Bytes({0x00, 0x02})) + "\n" + Record(2, 0, Bytes({0x00, 0x10})) + "\n"
             + Record(0, 0x0001, one),
         0x101},
        {Record(2, 0, Bytes({0x10, 0x00})) + "\n" + Record(4, 0, Bytes({0x00, 0x03})) + "\n"
             + Record(0, 0x0001, one),
         0x30001},
        // Start segment (03) and start linear (05) addresses change nothing.
        {Record(3, 0, Bytes({0x12, 0x34, 0x56, 0x78})) + "\n"
             + Record(5, 0, Bytes({0x00, 0x01, 0x00, 0x00})) + "\n" + Record(0, 0x0002, one),
         0x2},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.records + "\n" + kEnd);
        ASSERT_EQ(p.status, HexStatus::Ok) << c.records;
        ASSERT_EQ(p.image.size(), c.address + 1) << c.records;
        EXPECT_EQ(p.image[c.address], 0xA5) << c.records;
        EXPECT_EQ(p.image[0], c.address == 0 ? 0xA5 : 0xFF);
    }
}

TEST(IntelHexRead, AddressesStayBelow8MiB)
{
    const std::string high = Record(4, 0, Bytes({0x00, 0x7F})) + "\n";
    EXPECT_EQ(Parse(high + Record(0, 0xFFFE, Bytes({1, 2})) + "\n" + kEnd).status, HexStatus::Ok);
    EXPECT_EQ(Parse(high + Record(0, 0xFFFF, Bytes({1, 2})) + "\n" + kEnd).status, HexStatus::Error);
    EXPECT_EQ(Parse(Record(4, 0, Bytes({0xFF, 0xFF})) + "\n" + Record(0, 0, Bytes({1})) + "\n" + kEnd)
                  .status,
              HexStatus::Error);
    // The largest segment base is far below the bound.
    const Parsed p = Parse(Record(2, 0, Bytes({0xFF, 0xFF})) + "\n" + Record(0, 0xFFFF, Bytes({1}))
                           + "\n" + kEnd);
    ASSERT_EQ(p.status, HexStatus::Ok);
    EXPECT_EQ(p.image.size(), 0xFFFF0u + 0xFFFF + 1);
}

// Records whose fields are not what they claim: an error, never a write
// outside the image or a read into the next line.
TEST(IntelHexRead, RecordsThatLieAboutThemselvesAreErrors)
{
    const std::string cases[] = {
        ":0G00000001FF\n",                         // bad digit in the count
        ":0100X00001FE\n",                         // bad digit in the address
        ":010000Z001FE\n",                         // bad digit in the type
        ":01000000G1FE\n",                         // bad digit in the data
        ":01000000011\n",                          // checksum cut short
        ":020000020G00EC\n:0100000001FE\n",        // a "negative" segment
        ":-1000000FF\n",                           // a negative count
        ":05000000010203FA\n:00000001FF\n",        // count larger than its line
        ":FF000000" + std::string(20, '0') + "\n" + kEnd,
        ":0100\n" + kEnd,                          // too short for a record
        ":\n" + kEnd,
        ":0100000401FA\n:00000001FF\n",            // linear address record with 1 byte
        ":00000002FE\n:00000001FF\n",              // segment record without a value
    };
    for (const std::string& text : cases)
        EXPECT_EQ(Parse(text).status, HexStatus::Error) << text;
}

TEST(IntelHexRead, TheChecksumQuestionIsAskedOncePerFile)
{
    const std::string bad1 = ":0100000001FF\n";  // checksum should be FE
    const std::string bad2 = ":0100010002FF\n";
    const std::string good = Record(0, 2, Bytes({3})) + "\n";
    Parsed yes = Parse(bad1 + good + bad2 + kEnd, true);
    EXPECT_EQ(yes.status, HexStatus::Ok);
    EXPECT_EQ(yes.questions, 1);
    EXPECT_EQ(yes.image, Bytes({1, 2, 3}));

    Parsed no = Parse(good + bad2 + bad1 + kEnd, false);
    EXPECT_EQ(no.status, HexStatus::ChecksumRefused);
    EXPECT_EQ(no.questions, 1);

    // Only data records carry a tested checksum.
    Parsed other = Parse(":020000021000FF\n" + kEnd.substr(0, 9) + "00\n", false);
    EXPECT_EQ(other.status, HexStatus::Ok);
    EXPECT_EQ(other.questions, 0);
}

TEST(ImageDecode, ExtensionChoosesTheReader)
{
    const std::string hex = ":0100000041BE\n" + kEnd;
    const auto* b = reinterpret_cast<const uint8_t*>(hex.data());
    struct Case {
        const char* path;
        bool raw;
        bool fallback;
    } cases[] = {
        {"a.hex", false, false}, {"a.EEP", false, false}, {"noext", false, false},
        {"a.BIN", true, false},  {"a.bin", true, false},
    };
    for (const Case& c : cases) {
        const DecodedImage d = DecodeImage(b, hex.size(), c.path, nullptr);
        EXPECT_EQ(d.raw, c.raw) << c.path;
        EXPECT_EQ(d.FellBackToRaw(), c.fallback) << c.path;
        if (c.raw)
            EXPECT_EQ(d.image.size(), hex.size());
        else
            EXPECT_EQ(d.image, Bytes({0x41}));
    }

    const std::string broken = ":0100000041BE\n";
    const DecodedImage d = DecodeImage(reinterpret_cast<const uint8_t*>(broken.data()),
                                       broken.size(), "x.hex", nullptr);
    EXPECT_TRUE(d.FellBackToRaw());
    EXPECT_EQ(d.hexStatus, HexStatus::NotHex);
    EXPECT_EQ(std::string(d.image.begin(), d.image.end()), broken);
}

TEST(ImageDecode, RawImagesStopAt8MiB)
{
    std::vector<uint8_t> big(kImageLimit + 5, 0x5A);
    const DecodedImage d = DecodeImage(big.data(), big.size(), "big.bin", nullptr);
    EXPECT_EQ(d.image.size(), kImageLimit);
}

std::string Written(const std::vector<uint8_t>& image)
{
    std::string out;
    WriteIntelHex(image.data(), image.size(), out);
    return out;
}

TEST(IntelHexWrite, SmallImagesAreWrittenRecordByRecord)
{
    EXPECT_EQ(Written(Bytes({1, 2, 3})), ":03000000010203F7\r\n:00000001FF\r\n");
    EXPECT_EQ(Written({}), ":00000001FF\r\n");
    std::vector<uint8_t> seventeen(17);
    for (int i = 0; i < 17; ++i)
        seventeen[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Written(seventeen),
              ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
              ":0100100010DF\r\n"
              ":00000001FF\r\n");
}

TEST(IntelHexWrite, SegmentRecordsEvery64KiB)
{
    const std::string small = Written(std::vector<uint8_t>(65535, 0xFF));
    EXPECT_EQ(small.find(":02000002"), std::string::npos);

    std::vector<uint8_t> image(0x30001, 0xFF);
    const std::string text = Written(image);
    EXPECT_EQ(text.rfind(":020000020000FC\r\n:10000000", 0), 0u);
    EXPECT_NE(text.find("\r\n:020000021000EC\r\n:10000000"), std::string::npos);
    EXPECT_NE(text.find("\r\n:020000022000DC\r\n:10000000"), std::string::npos);
    EXPECT_NE(text.find("\r\n:020000023000CC\r\n:01000000FF00\r\n:00000001FF\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find(":02000004"), std::string::npos);
}

TEST(IntelHexWrite, ImagesBeyond1MiBRoundTripThroughLinearRecords)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> image(0x100000 + 0x20123);
    for (auto& b : image)
        b = static_cast<uint8_t>(rng());
    const std::string text = Written(image);
    EXPECT_NE(text.find(":02000002F0000C\r\n"), std::string::npos);
    EXPECT_NE(text.find(":020000040010EA\r\n:10000000"), std::string::npos);
    EXPECT_NE(text.find(":020000040012E8\r\n:10000000"), std::string::npos);

    std::vector<uint8_t> back;
    ASSERT_EQ(ParseIntelHex(reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr, back),
              HexStatus::Ok);
    EXPECT_EQ(back, image);

    // Exactly 1 MiB still fits the segment scheme.
    EXPECT_EQ(Written(std::vector<uint8_t>(0x100000)).find(":02000004"), std::string::npos);
}

TEST(LoadAddressText, ReadAsTheDialogDoes)
{
    struct Case {
        const char* text;
        bool hex;
        long long value;
    } cases[] = {
        {"012C", true, 300},     {"012C", false, 12},     {"FFFFFF", true, 16777215},
        {"0", true, 0},          {"G12", true, 0},        {"A0", false, 0},
        {"", true, 0},           {"-12", false, -12},     {"-1", true, -1},
        {"1234567", false, 123456},  // the edit holds six characters
        {"0x1F", true, 31},      {"12AB", false, 12},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseLoadAddress(c.text, c.hex), c.value) << c.text << (c.hex ? " hex" : " dec");
    EXPECT_EQ(FormatLoadAddress(300), "012C");
    EXPECT_EQ(FormatLoadAddress(0x12345), "12345");
}

}  // namespace
}  // namespace zelko
