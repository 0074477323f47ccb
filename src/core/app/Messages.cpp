#include "core/app/Messages.h"

#include <cstdio>
#include <vector>

namespace zelko {

std::atomic<bool> LanguageRussian{false};

const char* Translate(int id)
{
    const bool russian = LanguageRussian.load(std::memory_order_relaxed);
    for (const CatalogueRow& row : MessageCatalogue()) {
        if (row.id == id)
            return russian ? row.russian : row.english;
    }
    for (const CatalogueRow& row : ExtraMessages()) {
        if (row.id == id)
            return russian ? row.russian : row.english;
    }
    return "NOT TRANSLATED";
}

std::string FormatTextV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<size_t>(n));
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = FormatTextV(format, args);
    va_end(args);
    return s;
}

std::string Format(int id, ...)
{
    va_list args;
    va_start(args, id);
    std::string s = FormatTextV(Translate(id), args);
    va_end(args);
    return s;
}

}  // namespace zelko
