#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/app/Messages.h"
#include "support/TestSupport.h"
#include "core/app/TranslationTables.h"

namespace zelko::test {

// Defined in MessagesTest.cpp.
bool IsValidUtf8(std::string_view s);
bool HasCyrillic(std::string_view s);
bool HasLetters(std::string_view s);

namespace {

std::vector<std::pair<int, std::string>> Captions(int dialogId)
{
    std::vector<std::pair<int, std::string>> out;
    for (const ControlCaption& c : DialogCaptions(dialogId))
        out.emplace_back(c.controlId, c.text);
    return out;
}

void CheckRussian(std::string_view english, std::string_view russian, bool latinAllowed)
{
    EXPECT_TRUE(IsValidUtf8(russian)) << russian;
    if (!english.empty()) {
        EXPECT_FALSE(russian.empty()) << english;
    }
    if (HasLetters(english) && !latinAllowed) {
        EXPECT_TRUE(HasCyrillic(russian)) << "not translated: " << russian;
    }
}

TEST(MenuTranslations, CoverEveryTranslatedItemInOrder)
{
    // Top-level positions 0, 3, 4 and 5 precede the items of their drop-downs;
    // Flash and Eeprom (positions 1 and 2) keep their captions.
    const std::vector<int> expected = {
        0,     32784, 32780, 32783, 32781, 32782, 32792, 1015,  32800, 1056,  1006,
        32908, 32790, 32776, 32774, 32771, 1009,  1010,  1013,  1007,  32909, 32791,
        32772, 32775, 32773, 1011,  1012,  1014,  -3,    32795, 1016,  32785, 32907,
        -4,    32779, 32777, 32904, 32901, 32910, -5,    32789, 16};
    std::vector<int> codes;
    std::set<int> unique;
    for (const MenuTranslation& row : MenuTranslations()) {
        codes.push_back(row.code);
        unique.insert(row.code);
        SCOPED_TRACE(row.code);
        EXPECT_FALSE(std::string_view(row.english).empty());
        CheckRussian(row.english, row.russian, false);
    }
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(unique.size(), codes.size());

    std::vector<int> positions;
    for (const MenuTranslation& row : MenuTranslations())
        if (IsTopLevelMenuCode(row.code))
            positions.push_back(TopLevelMenuPosition(row.code));
    EXPECT_EQ(positions, (std::vector<int>{0, 3, 4, kHelpMenuPosition}));
}

TEST(MenuTranslations, FollowTheLanguage)
{
    const auto rows = MenuTranslations();
    const MenuTranslation& about = rows.back();
    ASSERT_EQ(about.code, 16);
    {
        LanguageScope english(false);
        EXPECT_STREQ(CurrentText(about), "&About");
        EXPECT_STREQ(CurrentText(rows[30]), "&Lock&&Fuse Bits...");
    }
    LanguageScope russian(true);
    EXPECT_STREQ(CurrentText(about), "О программе...");
    EXPECT_STREQ(CurrentText(rows[0]), "Проект");
}

TEST(DialogTranslations, HaveTheNineDialogsWithTheirCounts)
{
    const std::vector<std::pair<int, int>> expected = {
        {138, 30}, {130, 8}, {132, 4}, {148, 4}, {102, 11}, {129, 1}, {140, 10}, {149, 4}, {150, 9}};
    std::vector<std::pair<int, int>> actual;
    for (const DialogTranslation& row : DialogTranslations()) {
        actual.emplace_back(row.dialogId, row.count);
        SCOPED_TRACE(row.dialogId);
        ASSERT_LE(static_cast<size_t>(row.count), row.entries.size());
        EXPECT_EQ(FindDialogTranslation(row.dialogId), &row);

        // Only the windows that set their own title afterwards have none.
        const bool ownTitle = row.dialogId == 102 || row.dialogId == 129 || row.dialogId == 140;
        EXPECT_EQ(std::string_view(row.englishTitle).empty(), ownTitle);
        EXPECT_EQ(std::string_view(row.russianTitle).empty(), ownTitle);
        CheckRussian(row.englishTitle, row.russianTitle, false);

        for (const DialogEntry& e : row.entries) {
            SCOPED_TRACE(e.controlId);
            const bool latin = (row.dialogId == 138 && (e.controlId == 1121 || e.controlId == 1122)) ||
                               (row.dialogId == 132 && e.controlId == 1);
            CheckRussian(e.english, e.russian, latin);
        }
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(FindDialogTranslation(131), nullptr);
    EXPECT_TRUE(DialogCaptions(131).empty());
}

TEST(DialogTranslations, LaterEntriesOverrideEarlierOnes)
{
    for (bool russian : {false, true}) {
        LanguageScope scope(russian);
        const auto captions = Captions(150);
        // One caption per control, in the order the controls first appear.
        std::vector<int> ids;
        for (const auto& [id, text] : captions)
            ids.push_back(id);
        EXPECT_EQ(ids, (std::vector<int>{1153, 1154, 1156, 1155, 1157, 1, 2}));
        for (const auto& [id, text] : captions) {
            if (id == 1155 || id == 1157) {
                EXPECT_EQ(text, "-") << id;
            }
        }
    }
}

TEST(DialogTranslations, GiveTheCaptionsOfTheCurrentLanguage)
{
    const std::pair<int, std::string> english102[] = {{1079, "Device"}, {1009, "Program Flash"}};
    const std::pair<int, std::string> russian102[] = {{1079, "Микросхема"}, {1009, "Программир. Flash"}};
    {
        LanguageScope english(false);
        const auto main = Captions(102);
        ASSERT_GE(main.size(), 2u);
        EXPECT_EQ(main[0], english102[0]);
        EXPECT_EQ(main[1], english102[1]);
        EXPECT_STREQ(CurrentTitle(*FindDialogTranslation(138)), "Project Settings");
        const auto language = Captions(148);
        EXPECT_EQ(language[2], (std::pair<int, std::string>{1125, "English/Английский"}));
    }
    LanguageScope russian(true);
    const auto main = Captions(102);
    ASSERT_GE(main.size(), 2u);
    EXPECT_EQ(main[0], russian102[0]);
    EXPECT_EQ(main[1], russian102[1]);
    EXPECT_STREQ(CurrentTitle(*FindDialogTranslation(138)), "Настройки проекта");
    EXPECT_STREQ(CurrentTitle(*FindDialogTranslation(102)), "");
    const auto lockFuse = Captions(140);
    EXPECT_EQ(lockFuse.back(), (std::pair<int, std::string>{
                                   1138, "Нажатая кнопка обозначает, что fuse бит запрограммирован (0)"}));
    // The language choices read the same in both languages.
    const auto language = Captions(148);
    EXPECT_EQ(language[2], (std::pair<int, std::string>{1125, "English/Английский"}));
    EXPECT_EQ(language[3], (std::pair<int, std::string>{1126, "Russian/Русский"}));
}

TEST(DialogTranslations, AppliedEntriesStopAtTheCount)
{
    // A window without control 10005 skips that entry; the table still carries it.
    bool has10005 = false;
    for (const auto& [id, text] : Captions(130))
        has10005 |= id == 10005;
    EXPECT_TRUE(has10005);

    // The SPI period label's text sits beyond the count and is never applied.
    const DialogTranslation* settings = FindDialogTranslation(138);
    ASSERT_NE(settings, nullptr);
    EXPECT_GT(settings->entries.size(), static_cast<size_t>(settings->count));
    for (const auto& [id, text] : Captions(138))
        EXPECT_NE(id, 1146);
}

}  // namespace
}  // namespace zelko::test
