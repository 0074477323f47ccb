// zelko-cli: the headless front end of ZELKO, for scripts and production lines.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"

namespace zelko::cli {

std::vector<CliCommand>& CliCommandList()
{
    static std::vector<CliCommand> commands;
    return commands;
}

namespace {

void PrintHelp()
{
    std::printf(
        "Usage: zelko-cli [options] COMMAND [ARGS...]\n"
        "\n"
        "ZELKO drives a ZI1 programmer board on a serial port to program Atmel AVR\n"
        "and AT89S microcontrollers.\n"
        "\n"
        "Options:\n"
        "  --port N|PATH|sim|sim:NAME  the programmer's port (default: Connect/COM of the settings)\n"
        "  --device NAME               the target device, by its name in 'zelko-cli devices'\n"
        "  --speed 0..4                line speed after connecting (19200 ... 921600 bit/s)\n"
        "  --project FILE              load this project file first\n"
        "  --yes                       answer every question with Yes/OK (otherwise No/Cancel)\n"
        "  --quiet                     no progress bar\n"
        "  --help, --version\n"
        "\n"
        "Commands:\n");
    for (const CliCommand& c : CliCommandList())
        std::printf("%s\n", c.usage.c_str());
    std::printf(
        "\nStatus lines go to standard output, message-box texts to standard error.\n"
        "The exit status is 0 only when the command succeeded.\n");
}

bool TakeValue(int& i, int argc, char** argv, std::string& out)
{
    if (i + 1 >= argc) {
        std::fprintf(stderr, "zelko-cli: %s needs a value\n", argv[i]);
        return false;
    }
    out = argv[++i];
    return true;
}

}  // namespace
}  // namespace zelko::cli

int main(int argc, char** argv)
{
    using namespace zelko::cli;
    CliOptions options;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string v;
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        } else if (a == "--version") {
            std::printf("zelko-cli %s\n", ZELKO_VERSION);
            return 0;
        } else if (a == "--port") {
            if (!TakeValue(i, argc, argv, v)) return 2;
            options.port = v;
        } else if (a == "--device") {
            if (!TakeValue(i, argc, argv, v)) return 2;
            options.device = v;
        } else if (a == "--speed") {
            if (!TakeValue(i, argc, argv, v)) return 2;
            char* end = nullptr;
            const long s = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || s < 0 || s > 4) {
                std::fprintf(stderr, "zelko-cli: --speed takes 0 to 4\n");
                return 2;
            }
            options.speed = static_cast<int>(s);
        } else if (a == "--project") {
            if (!TakeValue(i, argc, argv, v)) return 2;
            options.project = v;
        } else if (a == "--yes") {
            options.yes = true;
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (a == "--eeprom") {
            options.eeprom = true;
        } else if (a == "--force") {
            options.force = true;
        } else if (a == "--hex") {
            options.hexFormat = true;
        } else if (a == "--bin") {
            options.hexFormat = false;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "zelko-cli: unknown option %s (see --help)\n", a.c_str());
            return 2;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        PrintHelp();
        return 2;
    }
    for (const CliCommand& c : CliCommandList()) {
        if (c.name == words[0]) {
            std::vector<std::string> args(words.begin() + 1, words.end());
            return c.handler(options, args);
        }
    }
    std::fprintf(stderr, "zelko-cli: unknown command '%s' (see --help)\n", words[0].c_str());
    return 2;
}
