// The operation runner's cancel and result codes, and the firmware upload,
// against the scripted board.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <thread>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/operations/ZI1Operations.h"
#include "core/operations/FakeTransport.h"
#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::FakeBoard;
using test::UiEvent;

// Presses Cancel once the worker has finished, before the front end would
// notice it: the classic late cancel.
class LateCancelUi : public test::RecordingUi {
public:
    void RunOperation(OperationControl& op) override
    {
        while (!op.WaitFinished(5)) {
        }
        op.RequestCancel();
    }
};

// Records that the Cancel button was hidden.
class HideRecordingUi : public test::RecordingUi {
public:
    void ProgressHideCancel() override { hidden = true; }
    bool hidden = false;
};

// Carries out the worker's calls on the UI thread while the worker waits, the
// way a GUI front end does, and records on which thread each call ran.
class MarshallingUi : public test::RecordingUi {
public:
    void ShowStatusLine(const std::string& t) override
    {
        OnUi([&] { RecordingUi::ShowStatusLine(t); });
    }
    void ShowBox(const std::string& t, const std::string& title, BoxIcon i) override
    {
        OnUi([&] { RecordingUi::ShowBox(t, title, i); });
    }
    bool AskOkCancel(const std::string& t, const std::string& title) override
    {
        bool answer = false;
        OnUi([&] { answer = RecordingUi::AskOkCancel(t, title); });
        return answer;
    }
    void ProgressPercent(int p, const std::string& t) override
    {
        OnUi([&] { RecordingUi::ProgressPercent(p, t); });
    }
    void RunOperation(OperationControl& op) override
    {
        std::unique_lock lock(mutex_);
        while (!op.Finished()) {
            queued_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !tasks_.empty(); });
            while (!tasks_.empty()) {
                auto task = std::move(tasks_.front());
                tasks_.pop_front();
                lock.unlock();
                task();
                lock.lock();
            }
        }
    }
    std::atomic<int> callsOffUiThread{0};
    std::atomic<int> callsCarried{0};

private:
    void OnUi(const std::function<void()>& call)
    {
        if (std::this_thread::get_id() == uiThread_) {
            call();
            return;
        }
        std::packaged_task<void()> task([&] {
            if (std::this_thread::get_id() != uiThread_)
                ++callsOffUiThread;
            ++callsCarried;
            call();
        });
        auto done = task.get_future();
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        queued_.notify_one();
        done.wait();
    }
    const std::thread::id uiThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::packaged_task<void()>> tasks_;
};

template <class Ui>
class Bench {
public:
    Bench()
    {
        link = std::make_unique<test::FakeBoardLink>(c.serialPort);
        c.serialPort.Open(0, 19200);
        c.projectSettings.DeviceIndex = FindByName("ATmega8/8A");
    }
    ~Bench() { c.serialPort.Close(); }
    FakeBoard& Board() { return *link->board; }

    Ui ui;
    Controller c{ui};
    std::unique_ptr<test::FakeBoardLink> link;
};

TEST(RunnerTest, CancelIsHonouredAfterTheBlockInTransfer)
{
    Bench<test::RecordingUi> b;
    b.c.eepromBuffer.SetContents(std::vector<uint8_t>(512, 0x33), Loaded);
    ZI1ProgramData op(b.c, &b.c.projectSettings);
    op.buffer = &b.c.eepromBuffer;
    op.isFlash = false;
    op.writeCommand = kCmdWriteEeprom;
    op.limit = 512;
    // The user cancels while the third block is on its way.
    b.Board().hook = [&op](const std::vector<uint8_t>& cmd, int, std::vector<uint8_t>&) {
        static int blocks = 0;
        if (cmd[0] == '>' && ++blocks == 3) {
            blocks = 0;
            op.RequestCancel();
        }
    };
    EXPECT_EQ(op.DoModal(), kOpCancelled);
    EXPECT_TRUE(op.UserCancelled());
    const auto& states = b.c.eepromBuffer.States;
    EXPECT_EQ(std::count(states.begin(), states.end(), Programmed), 3 * 64);
}

TEST(RunnerTest, CancelAfterTheWorkerStoredItsResultGivesThree)
{
    Bench<LateCancelUi> b;
    ZI1BlankCheck op(b.c, &b.c.projectSettings);
    EXPECT_EQ(op.DoModal(), kOpCancelledAfterEnd);
    EXPECT_TRUE(op.UserCancelled());
}

// The worker's question, progress and error box are carried out by the UI
// thread while the worker waits; nothing runs on the worker's side of the UI.
TEST(RunnerTest, WorkerCallsCanBeCarriedOutOnTheUiThread)
{
    Bench<MarshallingUi> b;
    b.c.eepromBuffer.SetContents(std::vector<uint8_t>(600, 0x33), Loaded);
    b.ui.answers = {true};
    b.Board().hook = [](const std::vector<uint8_t>& cmd, int, std::vector<uint8_t>& reply) {
        static int blocks = 0;
        if (cmd[0] == '>' && ++blocks == 6) {
            blocks = 0;
            reply.clear();  // the sixth block goes unanswered
        }
    };
    ZI1ProgramData op(b.c, &b.c.projectSettings);
    op.buffer = &b.c.eepromBuffer;
    op.isFlash = false;
    op.writeCommand = kCmdWriteEeprom;
    op.limit = 512;
    EXPECT_EQ(op.DoModal(), kOpLinkError);
    EXPECT_EQ(b.ui.Count(UiEvent::OkCancel), 1);
    EXPECT_EQ(b.ui.Texts(UiEvent::Box), std::vector<std::string>{"Connection error"});
    EXPECT_EQ(b.ui.percents, (std::vector<int>{12, 25, 37, 50}));
    EXPECT_GE(b.ui.callsCarried.load(), 6);
    EXPECT_EQ(b.ui.callsOffUiThread.load(), 0);
}

// Runs a list of progress calls on the worker.
class ProgressScript : public CProgressDlg {
public:
    using CProgressDlg::CProgressDlg;
    std::vector<std::pair<int, std::vector<int>>> stages;  // total, then the done values

protected:
    int Run() override
    {
        for (const auto& [total, dones] : stages) {
            BeginStage(total, "caption", "text");
            for (int d : dones)
                ReportProgress(d);
        }
        return kOpDone;
    }
};

TEST(RunnerTest, ProgressShowsEachPercentOnceAndNothingWithoutATotal)
{
    Bench<test::RecordingUi> b;
    ProgressScript op(b.c, nullptr);
    op.stages = {
        {0, {0, 1, 2}},            // no total: nothing is shown
        {3, {0, 1, 2}},            // 0 % is where the bar starts; the last block shows 66 %
        {1000, {0, 1, 2, 9, 10, 11, 999}},  // 0 % and repeats of 1 % are not shown again
        {4, {0, 3}},               // a new stage starts again from 0
        {3072, {1000}},
    };
    EXPECT_EQ(op.DoModal(), kOpDone);
    EXPECT_EQ(b.ui.percents, (std::vector<int>{33, 66, 1, 99, 75, 32}));
    const auto texts = b.ui.Texts(UiEvent::Progress);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "33% completed");
}

class ThrowingOperation : public CProgressDlg {
public:
    using CProgressDlg::CProgressDlg;

protected:
    int Run() override { throw std::bad_alloc(); }
};

TEST(RunnerTest, AnExceptionInTheWorkerIsAFailureNotACrash)
{
    Bench<test::RecordingUi> b;
    ThrowingOperation op(b.c, nullptr);
    EXPECT_EQ(op.DoModal(), kOpLinkError);
    EXPECT_FALSE(op.UserCancelled());
}

// Repaints a buffer while the worker fills it, taking the buffer lock the way
// a hex view does for a busy buffer.
class PaintingUi : public test::RecordingUi {
public:
    void RunOperation(OperationControl& op) override
    {
        do {
            std::lock_guard lock(BufferContentMutex());
            for (size_t i = 0; i < buffer->Data.size(); ++i)
                checksum += buffer->Data[i] + buffer->States[i];
            ++paints;
        } while (!op.WaitFinished(0));
    }
    MemoryBuffer* buffer = nullptr;
    unsigned long checksum = 0;
    int paints = 0;
};

TEST(RunnerTest, BufferCanBePaintedWhileTheWorkerFillsIt)
{
    Bench<PaintingUi> b;
    b.ui.buffer = &b.c.flashBuffer;
    b.Board().flash.assign(8192, 0x42);
    b.c.flashBuffer.CreateBuffer(8192);
    {
        ZI1ReadData op(b.c, &b.c.projectSettings);
        op.buffer = &b.c.flashBuffer;
        ASSERT_EQ(op.DoModal(), kOpDone);
    }
    EXPECT_EQ(b.c.flashBuffer.Data, std::vector<uint8_t>(8192, 0x42));
    // The verify reads on from the board's pointer (all 0xFF there): it writes
    // Failed states while the view paints.
    ZI1VerifyData op(b.c, &b.c.projectSettings);
    op.buffer = &b.c.flashBuffer;
    op.limit = 8192;
    ASSERT_EQ(op.DoModal(), kOpDone);
    EXPECT_FALSE(op.matches);
    EXPECT_GE(b.ui.paints, 2);
}

// ---- Firmware upload --------------------------------------------------------

std::vector<uint8_t> Image()
{
    std::vector<uint8_t> image(ZI1SelfProgram::kImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + 7);
    return image;
}

struct UploadRun {
    int result;
    std::vector<std::string> boxes;
    std::vector<std::string> status;
    std::vector<int> percents;
    size_t bytesWritten;
    std::vector<std::string> log;
};

UploadRun Upload(std::function<void(FakeBoard&)> script, bool cancelMidway = false)
{
    Bench<HideRecordingUi> b;
    b.c.projectSettings.DeviceIndex = 0;
    script(b.Board());
    const auto image = Image();
    ZI1SelfProgram op(b.c, nullptr);
    op.image = &image;
    if (cancelMidway) {
        auto previous = b.Board().hook;
        b.Board().hook = [&op, previous](const std::vector<uint8_t>& cmd, int i, std::vector<uint8_t>& r) {
            if (i == 500)
                op.RequestCancel();  // Escape: the upload goes on
            if (previous)
                previous(cmd, i, r);
        };
    }
    UploadRun run{op.DoModal(), b.ui.Texts(UiEvent::Box), b.ui.Texts(UiEvent::Status),
                  b.ui.percents, b.Board().BytesWritten(), b.Board().Log()};
    EXPECT_TRUE(b.ui.hidden) << "the upload cannot be cancelled";
    return run;
}

TEST(FirmwareUploadTest, CompleteUploadWithItsPauses)
{
    const UploadRun run = Upload([](FakeBoard&) {});
    EXPECT_EQ(run.result, kOpDone);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.bytesWritten, 1u + 12288u + 1u);
    const auto& log = run.log;
    ASSERT_GE(log.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"sleep 100", "5E", "sleep 100", "07 26 45 64"}));
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"sleep 200", "sleep 150", "25", "sleep 50"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "sleep 15"), 3072 / 32);
    EXPECT_EQ(run.percents.back(), 99);  // 3071 * 100 / 3072
}

TEST(FirmwareUploadTest, BoardOutcomes)
{
    struct Case {
        const char* what;
        std::function<void(FakeBoard&)> script;
        int result;
        std::vector<std::string> boxes;
    };
    const std::string connection = "Connection error";
    const Case cases[] = {
        {"bootloader not ready: no image byte is sent",
         [](FakeBoard& b) {
             b.hook = [](const std::vector<uint8_t>& c, int, std::vector<uint8_t>& r) {
                 if (c[0] == '^') r = {'-'};
             };
         },
         kOpLinkError, {Translate(1196)}},
        {"final '%' answered '*'",
         [](FakeBoard& b) {
             b.hook = [](const std::vector<uint8_t>& c, int i, std::vector<uint8_t>& r) {
                 if (c[0] == '%' && i > 3000) r = {'*'};
             };
         },
         kOpDone, {}},
        {"final '%' answered '-'",
         [](FakeBoard& b) {
             b.hook = [](const std::vector<uint8_t>& c, int i, std::vector<uint8_t>& r) {
                 if (c[0] == '%' && i > 3000) r = {'-'};
             };
         },
         kOpLinkError, {Translate(1198)}},
        {"final '%' unanswered",
         [](FakeBoard& b) {
             b.hook = [](const std::vector<uint8_t>& c, int i, std::vector<uint8_t>& r) {
                 if (c[0] == '%' && i > 3000) r.clear();
             };
         },
         kOpLinkError, {connection}},
        {"a board that keeps talking after the upload",
         [](FakeBoard& b) { b.babbleAfterUpload = true; }, kOpLinkError, {connection}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const auto start = std::chrono::steady_clock::now();
        const UploadRun run = Upload(k.script);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(run.result, k.result);
        EXPECT_EQ(run.boxes, k.boxes);
        if (k.result == kOpDone) {
            EXPECT_TRUE(run.status.empty());
        } else if (k.boxes == std::vector<std::string>{Translate(1196)}) {
            EXPECT_EQ(run.bytesWritten, 1u);
        } else {
            EXPECT_EQ(run.status, k.boxes) << "logged and shown as well";
        }
    }
}

TEST(FirmwareUploadTest, MissingAcknowledgementAtGroup1000)
{
    const UploadRun run = Upload([](FakeBoard& b) {
        // Command 0 is '^'; group g is command g + 1.
        b.hook = [](const std::vector<uint8_t>&, int i, std::vector<uint8_t>& r) {
            if (i == 1001) r.clear();
        };
    });
    EXPECT_EQ(run.result, kOpLinkError);
    EXPECT_EQ(run.boxes, std::vector<std::string>{"Connection error"});
    EXPECT_EQ(run.percents.back(), 32);  // 999 * 100 / 3072; group 1000 never reported
    EXPECT_EQ(run.bytesWritten, 1u + 4u * 1001u);
}

TEST(FirmwareUploadTest, EscapeDoesNotStopTheUpload)
{
    const UploadRun run = Upload([](FakeBoard&) {}, true);
    EXPECT_EQ(run.result, kOpDone);
    EXPECT_EQ(run.bytesWritten, 1u + 12288u + 1u);
}

}  // namespace
}  // namespace zelko
