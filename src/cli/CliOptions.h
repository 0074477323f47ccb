// Options common to all zelko-cli commands, and the front end's user interface:
// status lines go to stdout, box texts to stderr, questions are answered from
// --yes (otherwise with the safe answer, No).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/app/UserInterface.h"

namespace zelko {
class Controller;
}

namespace zelko::cli {

struct CliOptions {
    std::optional<std::string> port;     // --port N|PATH|sim|sim:NAME
    std::optional<std::string> device;   // --device NAME
    std::optional<int> speed;            // --speed 0..4
    std::optional<std::string> project;  // --project FILE
    bool yes = false;                    // --yes: answer every question Yes/OK
    bool quiet = false;                  // --quiet
    bool eeprom = false;                 // --eeprom
    bool force = false;                  // --force
    std::optional<bool> hexFormat;       // --hex / --bin: answer to "save as Intel HEX?"
};

// Applies --port, --device, --speed and --project to a controller; false (after
// a message) when one of them is not usable.
bool ApplyLinkOptions(const CliOptions& options, Controller& controller);

class CliUi : public UserInterface {
public:
    explicit CliUi(const CliOptions& options);

    void ShowStatusLine(const std::string& text) override;
    void ShowBox(const std::string& text, const std::string& title, BoxIcon icon) override;
    bool AskYesNo(const std::string& text, const std::string& title, BoxIcon icon,
                  bool defaultYes) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    void ProgressBegin(const std::string& caption, const std::string& text) override;
    void ProgressPercent(int percent, const std::string& text) override;
    // Waits for the operation; Ctrl-C asks it to stop after the current block.
    void RunOperation(OperationControl& op) override;

    // The answer to the next Yes/No question, when the command knows it
    // (for example --hex/--bin for the save-format question).
    std::optional<bool> nextAnswer;

    // What the program showed, for the commands to judge their outcome.
    std::vector<std::string> statuses;
    std::string lastBox;
    bool lastBoxPlain = false;
    const std::string& LastStatus() const;
    bool Showed(const std::string& status) const;

private:
    void EndProgressLine();

    const CliOptions& options_;
    std::mutex mutex_;
    bool tty_ = false;
    bool progressShown_ = false;
    std::string stage_;
};

}  // namespace zelko::cli
