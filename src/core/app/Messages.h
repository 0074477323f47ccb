// The bilingual message catalogue: every text the program composes at run time
// is looked up here by its numeric id in the current language.
#pragma once

#include <atomic>
#include <cstdarg>
#include <span>
#include <string>

namespace zelko {

// false = English, true = Russian. Changed only on the UI thread while no
// operation runs; read from worker threads as well.
extern std::atomic<bool> LanguageRussian;

struct CatalogueRow {
    int id;
    const char* english;
    const char* russian;  // UTF-8
};

// The 197 rows of the catalogue, in table order (ids 1001..1199).
std::span<const CatalogueRow> MessageCatalogue();

// Messages added since (ids from 2000 up), in both languages.
std::span<const CatalogueRow> ExtraMessages();

// The text of `id` in the current language; "NOT TRANSLATED" for an unknown id.
const char* Translate(int id);

// printf-style formatting of an arbitrary format string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

// Translate(id) used as a printf format with the given arguments.
std::string Format(int id, ...);

}  // namespace zelko
