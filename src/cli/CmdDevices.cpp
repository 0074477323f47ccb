// zelko-cli devices: the built-in device table, one tab-separated line per
// device, for scripts that need a device's name, signature or sizes.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "core/devices/DeviceTable.h"

namespace zelko::cli {
namespace {

std::string HexTriple(const uint8_t* b)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", b[0], b[1], b[2]);
    return text;
}

int ListDevices(CliOptions&, const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "zelko-cli: devices takes no arguments\n");
        return 2;
    }
    const auto table = DeviceTable();
    for (size_t i = 0; i < table.size(); ++i) {
        const DeviceRecord& d = table[i];
        std::printf("%zu\t%s\t%s\t%s\t%s\t%d\t%d\t%d\t%d\t%d\t%d\n", i, GroupName(d.group), d.name,
                    HexTriple(d.signature.data()).c_str(), HexTriple(d.signature.data() + 3).c_str(),
                    d.flashSize, d.eepromSize, d.pageWords, d.calibrationCount, d.deviceNo,
                    d.lockFuseTableIndex);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelko-cli: cannot write the device list\n");
        return 1;
    }
    return 0;
}

const CliCommandRegistrar registrar(
    "devices",
    "  devices                        list the supported devices, tab-separated: index,\n"
    "                                 group, name, signature A, signature B, Flash bytes,\n"
    "                                 EEPROM bytes, page words, calibration bytes, device\n"
    "                                 no, lock/fuse table",
    ListDevices);

}  // namespace
}  // namespace zelko::cli
