// The operation runner: one long transfer (program, read, verify, blank check,
// firmware upload) runs on a worker thread while the front end shows its
// progress and offers Cancel. Each operation overrides Run().
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "core/app/UserInterface.h"

namespace zelko {

class Controller;
struct ProjectSettings;

// Result codes of Run() and DoModal().
enum OperationResult : int {
    kOpDone = 0,
    kOpCancelled = 1,
    kOpLinkError = -1,        // already reported by the worker
    kOpBoardCondition = 100,  // data polling failed, or a byte that is not blank
    kOpNoThread = 2,
    kOpCancelledAfterEnd = 3,
};

class CProgressDlg : public OperationControl {
public:
    // `settings` may be null (the firmware upload works without a project).
    CProgressDlg(Controller& owner, ProjectSettings* settings);
    ~CProgressDlg() override;
    CProgressDlg(const CProgressDlg&) = delete;
    CProgressDlg& operator=(const CProgressDlg&) = delete;

    // Runs Run() on a worker thread while the front end waits in its
    // RunOperation(); returns the result code.
    int DoModal();

    // Set by the front end's Cancel; read by the command after DoModal().
    bool UserCancelled() const { return userCancelled_.load(std::memory_order_acquire); }

    // OperationControl
    bool Finished() const override { return finished_.load(std::memory_order_acquire); }
    bool WaitFinished(int ms) override;
    void RequestCancel() override;

protected:
    // The whole transfer, on the worker thread.
    virtual int Run() = 0;

    void BeginStage(int total, const std::string& caption, const std::string& text);
    // `done` is normally the index of the block just completed.
    void ReportProgress(int done);
    void HideCancel();
    // A Cancel given to a question of the worker counts as the user's cancel.
    void MarkUserCancelled() { userCancelled_.store(true, std::memory_order_release); }
    bool CancelRequested() const { return cancelRequested_.load(std::memory_order_acquire); }

    Controller& owner_;
    ProjectSettings* settings_;

private:
    void WorkerMain();

    int lastPercent_ = 0;
    int total_ = 0;
    std::string lastPercentText_;

    std::atomic<int> result_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> userCancelled_{false};

    std::mutex finishMutex_;
    std::condition_variable finishSignal_;
};

}  // namespace zelko
