// zelko-cli erase | blank | program | read | verify | update-firmware: the
// memory commands of the main window on the port given with --port or the one
// of the settings. The exit status is 0 only when the chip is in the state the
// command promises.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "core/app/Controller.h"
#include "core/app/Messages.h"

namespace zelko::cli {


namespace {

// Prints like CliUi and keeps the status lines the command showed.
// "flash" or "eeprom" as the first argument: true for EEPROM.
bool MemoryArgument(const std::string& command, const std::vector<std::string>& args, bool& eeprom)
{
    if (args.size() != 2 || (args[0] != "flash" && args[0] != "eeprom")) {
        std::fprintf(stderr, "zelko-cli: usage: %s flash|eeprom FILE\n", command.c_str());
        return false;
    }
    eeprom = args[0] == "eeprom";
    return true;
}

int Run(const std::string& command, CliOptions& options, const std::vector<std::string>& args)
{
    bool eeprom = false;
    if (command == "program" || command == "read" || command == "verify") {
        if (!MemoryArgument(command, args, eeprom))
            return 2;
    } else if (command == "update-firmware") {
        if (args.size() > 1) {
            std::fprintf(stderr, "zelko-cli: usage: update-firmware [IMAGE]\n");
            return 2;
        }
    } else if (!args.empty()) {
        std::fprintf(stderr, "zelko-cli: %s takes no arguments\n", command.c_str());
        return 2;
    }

    CliUi ui(options);
    Controller c(ui);
    c.LoadSettings();
    if (!ApplyLinkOptions(options, c))
        return 2;
    MemoryBuffer& buffer = c.Buffer(eeprom);

    if (command == "erase") {
        c.OnChipErase();
        return c.LastCommandResult == 0 ? 0 : 1;
    }
    if (command == "blank") {
        c.OnBlankCheck();
        return c.LastCommandResult == 0 ? 0 : 1;
    }
    if (command == "update-firmware") {
        if (!args.empty())
            c.firmwareImagePath = args[0];
        c.OnUpdateFirmware();
        return c.LastCommandResult == 0 ? 0 : 1;
    }
    if (command == "read") {
        if (eeprom)
            c.OnReadEeprom();
        else
            c.OnReadFlash();
        if (!ui.Showed(Translate(eeprom ? 1099 : 1089)))
            return 1;
        if (options.hexFormat)
            ui.nextAnswer = options.hexFormat;
        return c.SaveFile(buffer, args[1]) ? 0 : 1;
    }

    if (c.LoadImageFile(buffer, args[1]) != Controller::LoadOutcome::Read)
        return 1;
    if (command == "program") {
        if (eeprom)
            c.OnProgramEeprom();
        else
            c.OnProgramFlash();
        return c.LastCommandResult == 0 ? 0 : 1;
    }
    if (eeprom)
        c.OnVerifyEeprom();
    else
        c.OnVerifyFlash();
    return (eeprom ? c.EepromVerifyPassed : c.FlashVerifyPassed) ? 0 : 1;
}

CliCommandRegistrar Register(const char* name, const char* usage)
{
    const std::string command = name;
    return CliCommandRegistrar(name, usage, [command](CliOptions& o, const std::vector<std::string>& a) {
        return Run(command, o, a);
    });
}

const CliCommandRegistrar kErase =
    Register("erase", "  erase                          chip erase, then check the signature");
const CliCommandRegistrar kBlank =
    Register("blank", "  blank                          check that the chip's Flash is erased");
const CliCommandRegistrar kProgram =
    Register("program", "  program flash|eeprom FILE      write an image (.hex, .eep or .bin) into the chip");
const CliCommandRegistrar kRead =
    Register("read", "  read flash|eeprom FILE         read the chip's memory into FILE (--hex/--bin)");
const CliCommandRegistrar kVerify =
    Register("verify", "  verify flash|eeprom FILE       compare the chip's memory with an image");
const CliCommandRegistrar kUpdate = Register(
    "update-firmware",
    "  update-firmware [IMAGE]        load the programmer board's firmware (asks; --yes to agree)");

}  // namespace
}  // namespace zelko::cli
