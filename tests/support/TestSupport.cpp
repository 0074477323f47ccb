#include "support/TestSupport.h"

#include "core/app/Messages.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

extern char** environ;

namespace zelko::test {

void RecordingUi::ShowStatusLine(const std::string& text)
{
    std::lock_guard lock(mutex_);
    events_.push_back({UiEvent::Status, text, {}, BoxIcon::None, false});
}

void RecordingUi::ShowBox(const std::string& text, const std::string& title, BoxIcon icon)
{
    std::lock_guard lock(mutex_);
    events_.push_back({UiEvent::Box, text, title, icon, false});
}

bool RecordingUi::NextAnswer()
{
    if (answers.empty())
        return defaultAnswer;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

bool RecordingUi::AskYesNo(const std::string& text, const std::string& title, BoxIcon icon,
                           bool /*defaultYes*/)
{
    std::lock_guard lock(mutex_);
    const bool a = NextAnswer();
    events_.push_back({UiEvent::YesNo, text, title, icon, a});
    return a;
}

bool RecordingUi::AskOkCancel(const std::string& text, const std::string& title)
{
    std::lock_guard lock(mutex_);
    const bool a = NextAnswer();
    events_.push_back({UiEvent::OkCancel, text, title, BoxIcon::Question, a});
    return a;
}

void RecordingUi::SetWaitCursor(bool busy)
{
    std::lock_guard lock(mutex_);
    waitCursorDepth += busy ? 1 : -1;
}

void RecordingUi::ProgressPercent(int percent, const std::string& text)
{
    std::lock_guard lock(mutex_);
    percents.push_back(percent);
    events_.push_back({UiEvent::Progress, text, {}, BoxIcon::None, false});
}

std::optional<std::string> RecordingUi::AskFileName(FileRequest, bool, const std::string&)
{
    std::lock_guard lock(mutex_);
    events_.push_back({UiEvent::FileName, {}, {}, BoxIcon::None, false});
    if (fileNames.empty())
        return std::nullopt;
    auto f = fileNames.front();
    fileNames.pop_front();
    return f;
}

std::optional<long long> RecordingUi::AskLoadAddress(int proposal)
{
    std::lock_guard lock(mutex_);
    events_.push_back({UiEvent::LoadAddress, std::to_string(proposal), {}, BoxIcon::None, false});
    if (loadAddresses.empty())
        return std::nullopt;
    auto a = loadAddresses.front();
    loadAddresses.pop_front();
    return a;
}

std::vector<UiEvent> RecordingUi::Events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> RecordingUi::Texts(UiEvent::Kind kind) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_)
        if (e.kind == kind)
            out.push_back(e.text);
    return out;
}

std::string RecordingUi::LastStatus() const
{
    auto s = Texts(UiEvent::Status);
    return s.empty() ? std::string() : s.back();
}

int RecordingUi::Count(UiEvent::Kind kind) const
{
    return static_cast<int>(Texts(kind).size());
}

void RecordingUi::Clear()
{
    std::lock_guard lock(mutex_);
    events_.clear();
    percents.clear();
}

LanguageScope::LanguageScope(bool russian) : saved_(LanguageRussian.load())
{
    LanguageRussian = russian;
}

LanguageScope::~LanguageScope()
{
    LanguageRussian = saved_;
}

TempDir::TempDir()
{
    std::random_device rd;
    for (;;) {
        path_ = std::filesystem::temp_directory_path() /
                ("zelko-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(path_))
            break;
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& content)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ShellQuote(const std::string& word)
{
    std::string q = "'";
    for (char ch : word)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

CliResult RunCli(const std::string& args, const std::filesystem::path& cwd)
{
    TempDir outputs;
    const auto out = outputs / "out.txt";
    const auto err = outputs / "err.txt";
    std::string command;
    if (!cwd.empty())
        command = "cd " + ShellQuote(cwd.string()) + " && ";
    command += ShellQuote(ZELKO_CLI) + " " + args + " >" + ShellQuote(out.string()) + " 2>" +
               ShellQuote(err.string()) + " </dev/null";
    const int raw = std::system(command.c_str());
    CliResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

bool Zi1simProcess::Available()
{
    return !std::string(ZELKO_SIM_BIN).empty() && std::filesystem::exists(ZELKO_SIM_BIN);
}

Zi1simProcess::Zi1simProcess(std::vector<std::string> args)
{
    if (!Available())
        return;
    args.insert(args.begin(), ZELKO_SIM_BIN);
    int out[2];
    if (pipe(out) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, ZELKO_SIM_BIN, &actions, nullptr, argv.data(), environ) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The first line names the terminal; give it a few seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c = 0;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        if (read(out[0], &c, 1) != 1 || c == '\n')
            break;
        path_ += c;
    }
    close(out[0]);
}

Zi1simProcess::~Zi1simProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int Zi1simProcess::Stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Zi1simProcess::Signal(int sig)
{
    if (pid_ > 0)
        kill(pid_, sig);
}

namespace {
// Tests never touch the user's real settings: point the settings store at a
// private directory before any test runs.
struct IsolateSettings {
    IsolateSettings()
    {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("zelko-test-config-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
} isolateSettings;
}  // namespace

}  // namespace zelko::test
