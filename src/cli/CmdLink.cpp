// zelko-cli signature | calibration | info: the identification commands of the
// main window, on the port given with --port or the one of the settings.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/link/PortMap.h"
#include "sim/SimTransport.h"

namespace zelko::cli {

// The port number a --port PATH or sim name is reached by: a number no
// settings file is expected to use, mapped in memory only.
constexpr int kCommandLinePort = 99;

// Applies --project, --port, --device and --speed to a controller that has read
// the user's settings. False (after a message on stderr) when one is wrong.
bool ApplyLinkOptions(const CliOptions& options, Controller& controller)
{
    sim::RegisterBuiltInSimulator();
    if (options.project && !controller.LoadProject(*options.project))
        return false;
    if (options.port) {
        const std::string& p = *options.port;
        char* end = nullptr;
        const long n = std::strtol(p.c_str(), &end, 10);
        if (!p.empty() && *end == '\0') {
            if (n < 1 || n > 255) {
                std::fprintf(stderr, "zelko-cli: --port takes 1 to 255, a device path or sim[:NAME]\n");
                return false;
            }
            controller.comPort = static_cast<int>(n);
        } else {
            SetPortOverride(kCommandLinePort, p);
            controller.comPort = kCommandLinePort;
        }
    }
    if (options.device) {
        const int index = FindByName(*options.device);
        if (index < 0) {
            std::fprintf(stderr, "zelko-cli: unknown device '%s' (see 'zelko-cli devices')\n",
                         options.device->c_str());
            return false;
        }
        controller.projectSettings.DeviceIndex = index;
    }
    if (options.speed)
        controller.baudIndex = *options.speed;
    return true;
}

namespace {

// Prints like CliUi and remembers what the command ended with.
bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

int LinkCommand(const std::string& which, CliOptions& options, const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "zelko-cli: %s takes no arguments\n", which.c_str());
        return 2;
    }
    CliUi ui(options);
    Controller controller(ui);
    controller.LoadSettings();
    if (!ApplyLinkOptions(options, controller))
        return 2;

    if (which == "signature") {
        controller.lastSignature = {-1, -1, -1};
        controller.OnReadSignature();
        const auto& s = controller.lastSignature;
        if (s[0] < 0 || s[1] < 0 || s[2] < 0)
            return 1;
        const bool reported = StartsWith(ui.LastStatus(), Format(1061, s[0], s[1], s[2], "")) ||
                              ui.LastStatus() == Translate(1111);
        return reported ? 0 : 1;
    }
    if (which == "calibration") {
        const DeviceRecord& d = controller.SelectedDevice();
        if (d.calibrationCount <= 0) {
            std::fprintf(stderr, "zelko-cli: %s has no calibration bytes\n", d.name);
            return 1;
        }
        controller.OnReadCalibration();
        const bool read = StartsWith(ui.lastBox, Translate(1070)) ||
                          StartsWith(ui.lastBox, Translate(1169));
        return read ? 0 : 1;
    }
    controller.OnProgrammerInfo();
    return ui.lastBoxPlain ? 0 : 1;
}

const CliCommandRegistrar kSignature(
    "signature",
    "  signature                      read the chip's signature and select the device it names",
    [](CliOptions& o, const std::vector<std::string>& a) { return LinkCommand("signature", o, a); });
const CliCommandRegistrar kCalibration(
    "calibration",
    "  calibration                    read the chip's oscillator calibration bytes",
    [](CliOptions& o, const std::vector<std::string>& a) { return LinkCommand("calibration", o, a); });
const CliCommandRegistrar kInfo(
    "info",
    "  info                           show the programmer board's name and serial number",
    [](CliOptions& o, const std::vector<std::string>& a) { return LinkCommand("info", o, a); });

}  // namespace
}  // namespace zelko::cli
