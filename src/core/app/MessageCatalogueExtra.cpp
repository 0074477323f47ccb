// Messages added to the catalogue, ids from 2000 up. Same rule as the main
// table: both columns carry the same printf conversions in the same order.
//
// Id ranges: 2000-2019 image and project files, 2020-2039 serial link and
// identification, 2040-2059 memory operations, 2060-2079 lock/fuse bits and
// auto-program.
#include <iterator>

#include "core/app/Messages.h"

namespace zelko {
namespace {

const CatalogueRow kExtraRows[] = {
    {2000, "'%s' is not a valid Intel HEX file; it was loaded as raw binary (%d bytes)",
     "Файл '%s' не является правильным файлом Intel HEX; он загружен как двоичный (байт: %d)"},
};

}  // namespace

std::span<const CatalogueRow> ExtraMessages()
{
    return {kExtraRows, std::size(kExtraRows)};
}

}  // namespace zelko
