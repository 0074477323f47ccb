// Which device a port number opens. Port N opens the device named by the
// settings value Ports/COM<N> (a path such as /dev/ttyUSB0 or /dev/pts/7, or
// "sim" / "sim:NAME" for the built-in simulator).
#pragma once

#include <functional>
#include <memory>
#include <string>

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

}  // namespace zelko
