// Captions of the menu and of the dialogs in both languages. The window
// layouts themselves stay English; the GUI re-captions them from these tables
// when a window opens and when the language changes.
#pragma once

#include <span>
#include <vector>

namespace zelko {

// One menu caption. `code` > 0 is a command id; 0, -3, -4 and -5 stand for the
// top-level entries at positions 0, 3, 4 and 5 (5 is Help, right-aligned).
// Positions 1 (Flash) and 2 (Eeprom) have no row and keep their captions.
struct MenuTranslation {
    int code;
    const char* english;
    const char* russian;  // UTF-8
};

// The menu rows in the order they are applied.
std::span<const MenuTranslation> MenuTranslations();

inline bool IsTopLevelMenuCode(int code) { return code <= 0; }
// Position of a top-level entry for a code <= 0.
inline int TopLevelMenuPosition(int code) { return -code; }
inline constexpr int kHelpMenuPosition = 5;

struct DialogEntry {
    int controlId;
    const char* english;
    const char* russian;  // UTF-8
};

struct DialogTranslation {
    int dialogId;
    const char* englishTitle;  // empty when the window sets its own title
    const char* russianTitle;
    // Only the first `count` entries are applied; an entry may hold texts
    // beyond that which are kept but not shown.
    int count;
    std::span<const DialogEntry> entries;

    std::span<const DialogEntry> Applied() const { return entries.first(static_cast<size_t>(count)); }
};

// The dialog rows in table order.
std::span<const DialogTranslation> DialogTranslations();

// The row of a dialog template id, or nullptr when the dialog keeps its own texts.
const DialogTranslation* FindDialogTranslation(int dialogId);

// Texts in the current language (LanguageRussian).
const char* CurrentText(const MenuTranslation& row);
const char* CurrentText(const DialogEntry& entry);
const char* CurrentTitle(const DialogTranslation& row);

struct ControlCaption {
    int controlId;
    const char* text;  // in the current language; may be empty
};

// The caption each control of a dialog ends up with, in the current language:
// one item per control id, in the order the ids first appear, carrying the text
// of the last applied entry for that id. Empty for a dialog without a row.
std::vector<ControlCaption> DialogCaptions(int dialogId);

}  // namespace zelko
