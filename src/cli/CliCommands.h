// zelko-cli's commands. Each command file registers itself with a static
// CliCommandRegistrar, so main() needs no list of them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelko::cli {

struct CliOptions;

// A command gets the words after its name (options already taken out) and
// returns the process exit status.
using CliHandler = std::function<int(CliOptions& options, const std::vector<std::string>& args)>;

struct CliCommand {
    std::string name;
    std::string usage;  // one or more lines for --help
    CliHandler handler;
};

std::vector<CliCommand>& CliCommandList();

struct CliCommandRegistrar {
    CliCommandRegistrar(std::string name, std::string usage, CliHandler handler)
    {
        CliCommandList().push_back({std::move(name), std::move(usage), std::move(handler)});
    }
};

}  // namespace zelko::cli
