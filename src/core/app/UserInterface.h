// The one seam through which the core talks to the user. The GUI, zelko-cli and
// the tests each implement it.
//
// Threading: the core calls these from the UI thread and, while an operation
// runs, from its worker thread. A front end must carry out a worker's call on its
// own thread and return only when it is done (for a question: when answered).
// The core never calls from two threads at once.
#pragma once

#include <optional>
#include <string>

namespace zelko {

enum class BoxIcon { None, Information, Error, Question, Warning };

// The front end's handle on a running operation (see operations/CProgressDlg.h).
class OperationControl {
public:
    virtual ~OperationControl() = default;
    // True once the worker has stored its result.
    virtual bool Finished() const = 0;
    // Waits at most ms milliseconds for the worker; true when it has finished.
    virtual bool WaitFinished(int ms) = 0;
    // The user's Cancel: the worker stops after the block it is transferring.
    virtual void RequestCancel() = 0;
};

// What a file-name request is for; chooses the dialog's title and filters.
enum class FileRequest {
    OpenImage,     // Load / Load At of a buffer
    SaveImage,     // Save As of a buffer
    OpenProject,
    SaveProject,
};

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // The one-line status display of the main window.
    virtual void ShowStatusLine(const std::string& text) = 0;

    // A message box with an OK button.
    virtual void ShowBox(const std::string& text, const std::string& title, BoxIcon icon) = 0;

    // A Yes/No question; `defaultYes` chooses the default button. True = Yes.
    // A front end that cannot ask (an unattended run) answers with the safe
    // choice its user configured.
    virtual bool AskYesNo(const std::string& text, const std::string& title, BoxIcon icon,
                          bool defaultYes) = 0;

    // An OK/Cancel question. True = OK.
    virtual bool AskOkCancel(const std::string& text, const std::string& title) = 0;

    // The wait cursor, shown while a command talks to the board.
    virtual void SetWaitCursor(bool /*busy*/) {}

    // Progress view of a running operation (see operations/CProgressDlg.h).
    virtual void ProgressBegin(const std::string& /*caption*/, const std::string& /*text*/) {}
    virtual void ProgressPercent(int /*percent*/, const std::string& /*text*/) {}
    virtual void ProgressHideCancel() {}

    // Called on the UI thread while an operation's worker runs; returns only
    // when op.Finished(). The GUI runs its modal progress dialog here and calls
    // op.RequestCancel() on Cancel or Escape; this default just waits.
    virtual void RunOperation(OperationControl& op)
    {
        while (!op.WaitFinished(150)) {
        }
    }

    // Asks for a file name; nullopt when the user cancelled. `eeprom` tells
    // which buffer an image request is for.
    virtual std::optional<std::string> AskFileName(FileRequest /*what*/, bool /*eeprom*/,
                                                   const std::string& /*initial*/)
    {
        return std::nullopt;
    }

    // The Load Address dialog: the start address for Load At, or nullopt when
    // cancelled. `proposal` is shown first (in hexadecimal).
    virtual std::optional<long long> AskLoadAddress(int /*proposal*/) { return std::nullopt; }

    // Main-window refreshes the core asks for after it changed state. The GUI
    // re-reads the controller; other front ends ignore them.
    virtual void UpdateControls() {}
    virtual void DeviceSelected(int /*deviceIndex*/) {}
    virtual void InvertChanged(bool /*on*/) {}
    virtual void IncrementChanged(bool /*on*/) {}
    virtual void RecentProjectsChanged() {}
    virtual void Beep() {}
};

// Shows the wait cursor from construction until Restore() or destruction, so
// that every exit of a command restores it.
class WaitCursor {
public:
    explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Restore()
    {
        if (shown_) {
            shown_ = false;
            ui_.SetWaitCursor(false);
        }
    }

private:
    UserInterface& ui_;
    bool shown_ = true;
};

}  // namespace zelko
