// Shared test helpers: a user interface that records everything and answers
// questions from a script, and temporary directories.
#pragma once

#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/app/UserInterface.h"

namespace zelko::test {

struct UiEvent {
    enum Kind { Status, Box, YesNo, OkCancel, Progress, FileName, LoadAddress } kind;
    std::string text;
    std::string title;
    BoxIcon icon = BoxIcon::None;
    bool answer = false;
};

// Records every call; answers questions from `answers` in order, and with
// `defaultAnswer` once they run out. Safe to call from a worker thread.
class RecordingUi : public UserInterface {
public:
    void ShowStatusLine(const std::string& text) override;
    void ShowBox(const std::string& text, const std::string& title, BoxIcon icon) override;
    bool AskYesNo(const std::string& text, const std::string& title, BoxIcon icon,
                  bool defaultYes) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    void SetWaitCursor(bool busy) override;
    void ProgressPercent(int percent, const std::string& text) override;
    std::optional<std::string> AskFileName(FileRequest what, bool eeprom,
                                           const std::string& initial) override;
    std::optional<long long> AskLoadAddress(int proposal) override;

    std::vector<UiEvent> Events() const;
    std::vector<std::string> Texts(UiEvent::Kind kind) const;  // texts of one kind, in order
    std::string LastStatus() const;
    int Count(UiEvent::Kind kind) const;
    void Clear();

    std::deque<bool> answers;
    bool defaultAnswer = false;
    std::deque<std::optional<std::string>> fileNames;
    std::deque<std::optional<long long>> loadAddresses;
    std::vector<int> percents;
    int waitCursorDepth = 0;

private:
    bool NextAnswer();
    mutable std::mutex mutex_;
    std::vector<UiEvent> events_;
};

// Switches the language for the life of the object, then restores it.
class LanguageScope {
public:
    explicit LanguageScope(bool russian);
    ~LanguageScope();
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;

private:
    bool saved_;
};

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& p);

// A word for the shell, in single quotes.
std::string ShellQuote(const std::string& word);

struct CliResult {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs zelko-cli with `args` (shell words, quoted by the caller) and standard
// input from /dev/null, in directory `cwd` when one is given.
CliResult RunCli(const std::string& args, const std::filesystem::path& cwd = {});

// The zi1sim program serving a simulated board on a pseudo-terminal; its first
// line of output names the terminal. Killed when destroyed.
class Zi1simProcess {
public:
    explicit Zi1simProcess(std::vector<std::string> args);
    ~Zi1simProcess();
    Zi1simProcess(const Zi1simProcess&) = delete;
    Zi1simProcess& operator=(const Zi1simProcess&) = delete;

    static bool Available();
    const std::string& Path() const { return path_; }
    // Asks it to stop (SIGTERM) and waits; its exit status, or -1.
    int Stop();
    void Signal(int sig);

private:
    int pid_ = -1;
    std::string path_;
};
void WriteFile(const std::filesystem::path& p, const std::string& content);

}  // namespace zelko::test
