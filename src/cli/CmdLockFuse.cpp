// zelko-cli fuses read|program|verify and autoprogram: the lock and fuse bits
// of the chip, and the project's unattended auto-program run.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/devices/LockFuseTable.h"
#include "core/lockfuse/LockFuse.h"

namespace zelko::cli {

// The shared handling of --project, --port, --device and --speed (CmdLink.cpp).

namespace {

// Prints like CliUi and remembers the last box, which carries the verdict of
// a verify.
bool SameName(const std::string& a, const char* b)
{
    if (!b)
        return false;
    const std::string s(b);
    return a.size() == s.size() &&
           std::equal(a.begin(), a.end(), s.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Applies the states given on the command line: lock=0..3, NAME=1|0 for a fuse
// or a boot lock bit (1 = programmed). False with a message on stderr when one
// cannot be applied.
bool ApplyStates(const DeviceRecord& device, const std::vector<std::string>& states,
                 LockFuseSettings& s)
{
    const LockFuseTable& t = LockFuseTableAt(device.lockFuseTableIndex);
    for (const std::string& item : states) {
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (name.empty() || value.size() != 1 || !std::isdigit(static_cast<unsigned char>(value[0]))) {
            std::fprintf(stderr, "zelko-cli: '%s' is not NAME=1, NAME=0 or lock=0..3\n",
                         item.c_str());
            return false;
        }
        const int v = value[0] - '0';
        if (SameName(name, "lock")) {
            const int maxMode = device.interfaceKind == kInterfaceAvr ? 2 : 3;
            if (v > maxMode) {
                std::fprintf(stderr, "zelko-cli: %s takes lock modes 0 to %d\n", device.name,
                             maxMode);
                return false;
            }
            s.lockMode = v;
            continue;
        }
        if (v > 1) {
            std::fprintf(stderr, "zelko-cli: '%s': a bit is 1 (programmed) or 0\n", item.c_str());
            return false;
        }
        bool found = false;
        for (int i = 0; i < t.fuseCount && !found; ++i) {
            const char* n = t.fuseNames[static_cast<size_t>(i)];
            if (SameName(name, n) && std::string(n) != "_EMPTY_") {
                s.fuses[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
                found = true;
            }
        }
        for (int j = 0; j < t.bootLockCount && !found; ++j) {
            if (SameName(name, t.bootLockNames[static_cast<size_t>(j)])) {
                s.bootLocks[static_cast<size_t>(j)] = static_cast<uint8_t>(v);
                found = true;
            }
        }
        if (!found) {
            std::fprintf(stderr, "zelko-cli: %s has no bit named '%s' (see 'zelko-cli fuses read')\n",
                         device.name, name.c_str());
            return false;
        }
    }
    return true;
}

void PrintSettings(const DeviceRecord& device, const LockFuseSettings& s)
{
    const LockFuseTable& t = LockFuseTableAt(device.lockFuseTableIndex);
    // The names are written for controls, where "&&" stands for one "&".
    std::string mode = LockModeName(device.interfaceKind, s.lockMode);
    for (size_t k = mode.find("&&"); k != std::string::npos; k = mode.find("&&", k + 1))
        mode.erase(k, 1);
    std::printf("Lock mode: %d (%s)\n", s.lockMode, mode.c_str());
    for (int i = 0; i < t.fuseCount; ++i) {
        const char* n = t.fuseNames[static_cast<size_t>(i)];
        if (!n || std::string(n) == "_EMPTY_")
            continue;
        std::printf("%-16s %s\n", n, s.fuses[static_cast<size_t>(i)] ? "programmed" : "unprogrammed");
    }
    for (int j = 0; j < t.bootLockCount; ++j)
        std::printf("%-16s %s\n", t.bootLockNames[static_cast<size_t>(j)],
                    s.bootLocks[static_cast<size_t>(j)] ? "programmed" : "unprogrammed");
}

int FusesCommand(CliOptions& options, const std::vector<std::string>& args)
{
    if (args.empty() || (args[0] != "read" && args[0] != "program" && args[0] != "verify")) {
        std::fprintf(stderr, "zelko-cli: fuses takes read, program or verify\n");
        return 2;
    }
    const std::string what = args[0];
    const std::vector<std::string> states(args.begin() + 1, args.end());
    if (what == "read" && !states.empty()) {
        std::fprintf(stderr, "zelko-cli: fuses read takes no states\n");
        return 2;
    }

    CliUi ui(options);
    Controller controller(ui);
    controller.LoadSettings();
    if (!ApplyLinkOptions(options, controller))
        return 2;
    const DeviceRecord& device = controller.SelectedDevice();
    if (device.lockFuseTableIndex < 0) {
        std::fprintf(stderr, "zelko-cli: %s has no lock or fuse bits\n", device.name);
        return 1;
    }

    if (what == "read") {
        LockFuseSettings s;
        if (!controller.ReadLockFuse(s) || !s.readable)
            return 1;
        PrintSettings(device, s);
        return 0;
    }

    // The states to program or compare: the project's, or all unprogrammed
    // with the device's recommendations; then the command line's.
    LockFuseSettings s;
    if (options.project)
        s = controller.projectSettings.LockFuse;
    else
        ApplyRecommendedPresets(LockFuseTableAt(device.lockFuseTableIndex), s);
    if (!ApplyStates(device, states, s))
        return 2;

    if (what == "verify") {
        ui.lastBox.clear();
        controller.VerifyLockFuse(s);
        return ui.lastBox == Translate(1159) ? 0 : 1;
    }

    const std::string warning =
        LockFuseSafetyWarning(LockFuseTableAt(device.lockFuseTableIndex), s);
    if (!warning.empty()) {
        std::fprintf(stderr, "%s\n", warning.c_str());
        if (!options.force) {
            std::fprintf(stderr, "zelko-cli: not programmed; give --force to program these bits\n");
            return 1;
        }
    }
    const LockFuseProgramOutcome o = ProgramLockFuseDetailed(controller, s, false);
    return o.result && !o.errorReported ? 0 : 1;
}

int AutoProgramCommand(CliOptions& options, const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "zelko-cli: autoprogram takes one project file\n");
        return 2;
    }
    if (options.project || options.device) {
        std::fprintf(stderr,
                     "zelko-cli: autoprogram takes the device and the job from its project file\n");
        return 2;
    }
    CliUi ui(options);
    Controller controller(ui);
    controller.LoadSettings();
    if (!ApplyLinkOptions(options, controller))
        return 2;
    return controller.RunCommandLineAutoProgram(args[0], options.quiet) ? 0 : 1;
}

const CliCommandRegistrar kFuses(
    "fuses",
    "  fuses read                     show the chip's lock mode, fuse and boot lock bits\n"
    "  fuses program [STATE...]       program them; STATE is lock=0..3 or NAME=1|0 (1 =\n"
    "                                 programmed), applied to the project's bits (--project)\n"
    "                                 or to the device's recommended ones; bits that can lock\n"
    "                                 out the programmer need --force\n"
    "  fuses verify [STATE...]        compare the chip with those states",
    FusesCommand);
const CliCommandRegistrar kAutoProgram(
    "autoprogram",
    "  autoprogram PROJECT            run the project's auto-program job; --quiet appends\n"
    "                                 the outcome to log.txt in the current directory",
    AutoProgramCommand);

}  // namespace
}  // namespace zelko::cli
