// The catalogue is format strings that callers fill with fixed argument lists,
// so a Russian row with a different conversion sequence would read garbage off
// the stack. These tests guard the transcription where it can hurt.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/Messages.h"
#include "support/TestSupport.h"

namespace zelko::test {

// Shared with TranslationTablesTest.cpp.
bool IsValidUtf8(std::string_view s);
bool HasCyrillic(std::string_view s);
bool HasLetters(std::string_view s);

namespace {

}  // namespace

// The printf conversions of a format string, each as written ("%02X", "%%"),
// or nullopt when a '%' does not start a well-formed, harmless conversion.
static std::optional<std::vector<std::string>> Conversions(std::string_view s)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%')
            continue;
        const size_t start = i++;
        if (i < s.size() && s[i] == '%') {
            out.emplace_back("%%");
            continue;
        }
        while (i < s.size() && std::strchr("-+ #0", s[i]))
            ++i;
        if (i < s.size() && s[i] == '*')
            ++i;
        else
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                ++i;
        if (i < s.size() && s[i] == '.') {
            ++i;
            if (i < s.size() && s[i] == '*')
                ++i;
            else
                while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                    ++i;
        }
        if (s.substr(i, 2) == "hh" || s.substr(i, 2) == "ll")
            i += 2;
        else if (i < s.size() && std::strchr("hlLzjt", s[i]))
            ++i;
        // %n writes through a pointer: never acceptable in a catalogue text.
        if (i >= s.size() || !std::strchr("diouxXeEfFgGaAcsp", s[i]))
            return std::nullopt;
        out.emplace_back(s.substr(start, i - start + 1));
    }
    return out;
}

bool IsValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size())
            return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr unsigned kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool HasCyrillic(std::string_view s)
{
    // U+0400..U+04FF is encoded with lead bytes D0..D3.
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0xD0 && c <= 0xD3 && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80)
            return true;
    }
    return false;
}

// Whether a text has words to translate, ignoring its conversions ("%X" is no word).
bool HasLetters(std::string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            while (i + 1 < s.size() && !std::strchr("diouxXeEfFgGaAcsp%", s[i + 1]))
                ++i;
            ++i;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(s[i])))
            return true;
    }
    return false;
}

namespace {

std::string Leading(std::string_view s)
{
    return std::string(s.substr(0, s.find_first_not_of(" \n")));
}

std::string Trailing(std::string_view s)
{
    const size_t last = s.find_last_not_of(" \n");
    return std::string(last == std::string_view::npos ? s : s.substr(last + 1));
}

size_t LineBreaks(std::string_view s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// Russian texts that are deliberately the same Latin text as the English one.
const std::set<int> kLatinOnly = {1011, 1012, 1013};

// Checks shared by the main table and the added messages.
void CheckRow(const CatalogueRow& row)
{
    SCOPED_TRACE("id " + std::to_string(row.id));
    ASSERT_NE(row.english, nullptr);
    ASSERT_NE(row.russian, nullptr);
    const std::string_view en = row.english;
    const std::string_view ru = row.russian;
    EXPECT_FALSE(en.empty());
    EXPECT_FALSE(ru.empty());

    const auto enConv = Conversions(en);
    const auto ruConv = Conversions(ru);
    ASSERT_TRUE(enConv.has_value()) << "malformed conversion in: " << en;
    ASSERT_TRUE(ruConv.has_value()) << "malformed conversion in: " << ru;
    EXPECT_EQ(*enConv, *ruConv) << en << "\n" << ru;

    EXPECT_TRUE(IsValidUtf8(ru)) << ru;
    EXPECT_TRUE(IsValidUtf8(en)) << en;
    if (HasLetters(en) && !kLatinOnly.count(row.id)) {
        EXPECT_TRUE(HasCyrillic(ru)) << "not translated: " << ru;
    }

    // Texts are glued to others (1002 after 1001, 1036 after a version, the
    // verify report lines), so their edges and line breaks must match.
    EXPECT_EQ(Leading(en), Leading(ru));
    EXPECT_EQ(Trailing(en), Trailing(ru));
    EXPECT_EQ(LineBreaks(en), LineBreaks(ru));
}

TEST(ConversionParser, SeesWhatPrintfSees)
{
    using V = std::vector<std::string>;
    struct Case {
        const char* text;
        std::optional<V> expected;
    } const cases[] = {
        {"plain text", V{}},
        {"%d%% completed", V{"%d", "%%"}},
        {"0x%02X %04X %X", V{"%02X", "%04X", "%X"}},
        {"FW %c.%c%c on COM%d: %s", V{"%c", "%c", "%c", "%d", "%s"}},
        {"%-8.3s %lld %zu %*d", V{"%-8.3s", "%lld", "%zu", "%*d"}},
        // A lone '%' before a word is a conversion to printf ("% d"): it must
        // show up so that the comparison with the other language catches it.
        {"50% done", V{"% d"}},
        {"trailing %", std::nullopt},
        {"%n", std::nullopt},
        {"100%!", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Conversions(c.text), c.expected);
    }
    // Width and flags matter: "%X" and "%02X" print different things.
    EXPECT_NE(Conversions("%02X"), Conversions("%X"));
}

TEST(MessageCatalogue, HasTheRowsTheProgramUses)
{
    const auto rows = MessageCatalogue();
    ASSERT_EQ(rows.size(), 197u);
    std::set<int> ids;
    int previous = 0;
    for (const CatalogueRow& row : rows) {
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
        EXPECT_GE(row.id, 1001);
        EXPECT_LE(row.id, 1199);
        EXPECT_GT(row.id, previous) << "rows out of order at " << row.id;
        previous = row.id;
    }
    EXPECT_FALSE(ids.count(1152));
    EXPECT_FALSE(ids.count(1167));
    // 199 possible ids minus the two unused ones.
    EXPECT_EQ(ids.size(), 197u);
}

TEST(MessageCatalogue, EveryRowIsSoundInBothLanguages)
{
    for (const CatalogueRow& row : MessageCatalogue())
        CheckRow(row);
}

TEST(MessageCatalogue, AddedMessagesFollowTheSameRules)
{
    std::set<int> ids;
    for (const CatalogueRow& row : MessageCatalogue())
        ids.insert(row.id);
    for (const CatalogueRow& row : ExtraMessages()) {
        EXPECT_GE(row.id, 2000);
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
        CheckRow(row);
    }
}

TEST(Translate, GivesTheTextOfTheCurrentLanguage)
{
    struct Case {
        int id;
        const char* english;
        const char* russian;  // nullptr: only the English text is fixed
    } cases[] = {
        {1102, "This device doesn't have Eeprom on-chip", nullptr},
        {1002, "\n  -  %s should be unprogrammed", nullptr},
        {1179,
         "Version conflict. Update firmware version with '\\Settings\\Update firmware version...' "
         "command.",
         nullptr},
        {1195,
         "Please detach and then attach power to the programmer, then ensure, that \"Bootloader\" "
         "is displayed as version number.",
         nullptr},
        {1016, "ZELKO Program 11.68", "Программа ZELKO 11.68"},
        {1025, "Programmer ZKxx series", "Программатор серии ZKxx"},
        {1027, "Connection error", "Ошибка соединения"},
        {1061, "Signature: %02X %02X %02X - %s", "Сигнатура %02X %02X %02X - %s"},
        {1069, "%s\nVoltage: 3.3 ... 5.0 V\nSerial number: %02X %02X %02X %02X %02X",
         "%s\nРабочее напряжение: 3.3...5.0 В\nСерийный номер: %02X %02X %02X %02X %02X"},
        {1151, "%d%% completed", "%d%% завершено"},
        {1190, "AUTOPROGRAM: OK", "Автопрограммирование: ЗАВЕРШЕНО УСПЕШНО"},
        {1199, "Cannot find help file \"%s\".", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        {
            LanguageScope english(false);
            EXPECT_STREQ(Translate(c.id), c.english);
        }
        LanguageScope russian(true);
        if (c.russian)
            EXPECT_STREQ(Translate(c.id), c.russian);
        else
            EXPECT_STRNE(Translate(c.id), c.english);
    }
    EXPECT_FALSE(LanguageRussian.load());
}

TEST(Translate, UnknownIdsAreNotTranslatedInEitherLanguage)
{
    for (bool russian : {false, true}) {
        LanguageScope scope(russian);
        for (int id : {1152, 1167, 1000, 1200, 0, -1, 99999})
            EXPECT_STREQ(Translate(id), "NOT TRANSLATED") << id << (russian ? " ru" : " en");
    }
}

TEST(Translate, FormatsWithTheCurrentLanguage)
{
    {
        LanguageScope russian(true);
        EXPECT_EQ(Format(1151, 42), "42% завершено");
        EXPECT_EQ(Format(1038, '1', '0', '9', '1', '1', '0'),
                  "Конфликт версий.\nВерсия прошивки: 1.09\nТребуемая версия: 1.10.\n"
                  "Обновите прошивку и повторите попытку.");
    }
    LanguageScope english(false);
    EXPECT_EQ(Format(1043, 0x1E, 0x93, 0x0F, "ATmega88A/88PA"),
              "Chip erased; signature: 1E 93 0F - ATmega88A/88PA");
}

}  // namespace
}  // namespace zelko::test
