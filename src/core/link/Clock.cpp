#include "core/link/Clock.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace zelko {
namespace {
std::mutex sleeperMutex;
std::shared_ptr<std::function<void(int)>> sleeper;
}  // namespace

void SleepMs(int ms)
{
    std::shared_ptr<std::function<void(int)>> s;
    {
        std::lock_guard lock(sleeperMutex);
        s = sleeper;
    }
    if (s) {
        (*s)(ms);
        return;
    }
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleeper(std::function<void(int)> fn)
{
    std::lock_guard lock(sleeperMutex);
    sleeper = fn ? std::make_shared<std::function<void(int)>>(std::move(fn)) : nullptr;
}

}  // namespace zelko
