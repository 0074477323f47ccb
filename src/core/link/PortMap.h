// Which device a port number opens. Port N opens the device named by the
// settings value Ports/COM<N> (a path such as /dev/ttyUSB0 or /dev/pts/7, or
// "sim" / "sim:NAME" for the built-in simulator).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/link/Transport.h"

namespace zelko {

// Makes the built-in simulator's transport. `spec` is "sim" or "sim:NAME";
// `selectedDevice` is the device index selected in the program (the chip of a
// plain "sim"). The simulator library registers itself; the core does not link
// it.
using SimTransportFactory =
    std::function<std::unique_ptr<Transport>(const std::string& spec, int selectedDevice)>;

void RegisterSimTransportFactory(SimTransportFactory factory);
const SimTransportFactory& SimFactory();

// An in-memory value of Ports/COM<N> for this process only, ahead of the
// settings (zelko-cli --port PATH); an empty device removes it.
void SetPortOverride(int portNumber, const std::string& device);

// The device port N opens: the override, else the settings value Ports/COM<N>,
// else the N-th entry of DefaultSerialDevices(); empty when there is none.
std::string PortDevice(int portNumber);

// The serial devices present, in the order of the default port numbers:
// /dev/ttyUSB*, then /dev/ttyACM*, then /dev/ttyS*, each by its number.
std::vector<std::string> DefaultSerialDevices();

// The transport for a device: the simulator for "sim" / "sim:NAME", else a
// serial device path. nullptr (with `error` set) when it cannot be made.
std::unique_ptr<Transport> MakePortTransport(const std::string& device, int selectedDevice,
                                             std::string& error);

}  // namespace zelko
