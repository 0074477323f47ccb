#include <unistd.h>

#include <csignal>

#include <cstdio>

#include "cli/CliOptions.h"

namespace zelko::cli {

CliUi::CliUi(const CliOptions& options) : options_(options), tty_(isatty(STDOUT_FILENO) != 0) {}

void CliUi::EndProgressLine()
{
    if (progressShown_) {
        std::fputc('\n', stdout);
        progressShown_ = false;
    }
}

const std::string& CliUi::LastStatus() const
{
    static const std::string none;
    return statuses.empty() ? none : statuses.back();
}

bool CliUi::Showed(const std::string& status) const
{
    for (const std::string& s : statuses)
        if (s == status)
            return true;
    return false;
}

void CliUi::ShowStatusLine(const std::string& text)
{
    std::lock_guard lock(mutex_);
    statuses.push_back(text);
    EndProgressLine();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void CliUi::ShowBox(const std::string& text, const std::string& /*title*/, BoxIcon icon)
{
    std::lock_guard lock(mutex_);
    lastBox = text;
    lastBoxPlain = icon == BoxIcon::None;
    EndProgressLine();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool CliUi::AskYesNo(const std::string& text, const std::string& /*title*/, BoxIcon /*icon*/,
                     bool /*defaultYes*/)
{
    std::lock_guard lock(mutex_);
    EndProgressLine();
    bool answer = options_.yes;
    if (nextAnswer) {
        answer = *nextAnswer;
        nextAnswer.reset();
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n  -> %s%s\n", text.c_str(), answer ? "Yes" : "No",
                 options_.yes || answer ? "" : " (no --yes given: the safe answer)");
    return answer;
}

bool CliUi::AskOkCancel(const std::string& text, const std::string& /*title*/)
{
    std::lock_guard lock(mutex_);
    EndProgressLine();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n  -> %s\n", text.c_str(),
                 options_.yes ? "OK" : "Cancel (no --yes given: the safe answer)");
    return options_.yes;
}

void CliUi::ProgressBegin(const std::string& /*caption*/, const std::string& text)
{
    std::lock_guard lock(mutex_);
    stage_ = text;
}

void CliUi::ProgressPercent(int percent, const std::string& text)
{
    if (!tty_ || options_.quiet)
        return;
    std::lock_guard lock(mutex_);
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::printf("\r%s [%.*s%*s] %s", stage_.c_str(), filled, "##############################",
                kWidth - filled, "", text.c_str());
    std::fflush(stdout);
    progressShown_ = true;
}

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

void CliUi::RunOperation(OperationControl& op)
{
    // While a transfer runs, Ctrl-C is the Cancel button: the chip is left
    // between two blocks, not in the middle of one, and the port is closed.
    interrupted = 0;
    struct sigaction cancel {};
    struct sigaction previous {};
    cancel.sa_handler = OnInterrupt;
    sigemptyset(&cancel.sa_mask);
    sigaction(SIGINT, &cancel, &previous);
    bool cancelled = false;
    while (!op.WaitFinished(100)) {
        if (interrupted && !cancelled) {
            cancelled = true;
            op.RequestCancel();
        }
    }
    sigaction(SIGINT, &previous, nullptr);
}

}  // namespace zelko::cli
