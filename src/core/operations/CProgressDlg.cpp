#include "core/operations/CProgressDlg.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "core/app/Controller.h"
#include "core/app/Messages.h"

namespace zelko {

CProgressDlg::CProgressDlg(Controller& owner, ProjectSettings* settings)
    : owner_(owner), settings_(settings)
{
}

CProgressDlg::~CProgressDlg() = default;

int CProgressDlg::DoModal()
{
    std::thread worker;
    try {
        worker = std::thread([this] { WorkerMain(); });
    } catch (const std::system_error&) {
        return kOpNoThread;
    }
    owner_.Ui().RunOperation(*this);
    // The front end returns only after the worker finished; joining guards
    // against one that returns early, so Run never outlives this object.
    worker.join();
    return result_.load(std::memory_order_acquire);
}

void CProgressDlg::WorkerMain()
{
    int r = kOpLinkError;
    try {
        r = Run();
    } catch (...) {
        // Out of memory and the like: the command reports the failure, the
        // program goes on.
    }
    result_.store(r, std::memory_order_release);
    {
        std::lock_guard lock(finishMutex_);
        finished_.store(true, std::memory_order_release);
    }
    finishSignal_.notify_all();
}

bool CProgressDlg::WaitFinished(int ms)
{
    std::unique_lock lock(finishMutex_);
    return finishSignal_.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return finished_.load(std::memory_order_acquire);
    });
}

void CProgressDlg::RequestCancel()
{
    cancelRequested_.store(true, std::memory_order_release);
    // Stands as the result only when the worker has already stored its own:
    // a result stored after this replaces it.
    result_.store(kOpCancelledAfterEnd, std::memory_order_release);
    userCancelled_.store(true, std::memory_order_release);
}

void CProgressDlg::BeginStage(int total, const std::string& caption, const std::string& text)
{
    total_ = total;
    lastPercent_ = 0;
    owner_.Ui().ProgressBegin(caption, text);
}

void CProgressDlg::ReportProgress(int done)
{
    if (total_ == 0)
        return;
    const int percent = static_cast<int>(static_cast<int64_t>(done) * 100 / total_);
    if (percent == lastPercent_)
        return;
    lastPercent_ = percent;
    std::string text = Format(1151, percent);
    if (text != lastPercentText_)
        lastPercentText_ = text;
    owner_.Ui().ProgressPercent(percent, lastPercentText_);
}

void CProgressDlg::HideCancel()
{
    owner_.Ui().ProgressHideCancel();
}

}  // namespace zelko
