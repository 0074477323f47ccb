// The message catalogue. Every row carries the same printf conversions, in the
// same order, in both languages.
#include "core/app/Messages.h"

#include <iterator>

namespace zelko {
namespace {

const CatalogueRow kRows[] = {
    {1016, "ZELKO Program 11.68", "Программа ZELKO 11.68"},
    {1025, "Programmer ZKxx series", "Программатор серии ZKxx"},
    {1027, "Connection error", "Ошибка соединения"},
};

}  // namespace

std::span<const CatalogueRow> MessageCatalogue()
{
    return {kRows, std::size(kRows)};
}

}  // namespace zelko
