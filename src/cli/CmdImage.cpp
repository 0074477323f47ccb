// zelko-cli image: inspect and convert image files with the program's own
// reader and writer.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "core/app/Controller.h"
#include "core/app/Messages.h"

namespace zelko::cli {
namespace {

int ImageInfo(CliOptions& options, const std::string& file)
{
    CliUi ui(options);
    Controller controller(ui);
    MemoryBuffer& buffer = controller.Buffer(options.eeprom);
    if (controller.LoadImageFile(buffer, file) != Controller::LoadOutcome::Read)
        return 1;
    controller.ReportLength(buffer);
    return 0;
}

int ImageConvert(CliOptions& options, const std::string& in, const std::string& out)
{
    CliUi ui(options);
    Controller controller(ui);
    // A conversion copies the image exactly: the Flash buffer's word padding
    // would add a byte to odd-length images, so the bytes pass through a
    // buffer that never pads, wired to the project like the real ones.
    MemoryBuffer buffer(true);
    buffer.Project = &controller.projectSettings;
    buffer.Owner = controller.Buffer(options.eeprom).Owner;
    if (controller.LoadImageFile(buffer, in) != Controller::LoadOutcome::Read)
        return 1;
    if (options.hexFormat)
        ui.nextAnswer = options.hexFormat;
    if (!controller.SaveFile(buffer, out))
        return 1;
    controller.ShowStatus(Format(options.eeprom ? 1074 : 1041, buffer.Length, buffer.Length,
                                 static_cast<unsigned>(buffer.Checksum())));
    return 0;
}

int ImageCommand(CliOptions& options, const std::vector<std::string>& args)
{
    if (args.size() == 2 && args[0] == "info")
        return ImageInfo(options, args[1]);
    if (args.size() == 3 && args[0] == "convert")
        return ImageConvert(options, args[1], args[2]);
    std::fprintf(stderr,
                 "Usage: zelko-cli image info FILE [--eeprom]\n"
                 "       zelko-cli image convert IN OUT [--eeprom] [--hex|--bin]\n");
    return 2;
}

const CliCommandRegistrar kImage(
    "image",
    "  image info FILE [--eeprom]     load an image file as the Flash (EEPROM) buffer and\n"
    "                                 print its length and checksum\n"
    "  image convert IN OUT [--eeprom] [--hex|--bin]\n"
    "                                 load IN and save it as OUT (Intel HEX for .hex/.eep,\n"
    "                                 raw for .bin; --hex/--bin for other names); the image\n"
    "                                 keeps its exact length",
    ImageCommand);

}  // namespace
}  // namespace zelko::cli
