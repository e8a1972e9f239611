// Waitable primitives on POSIX: an auto-reset event from a mutex and a condition
// variable, and a robust recursive pthread mutex, which hands itself to the next waiter
// when its owner thread ends while holding it.
#include "link/Tsigs.h"

#include <pthread.h>
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "common/Error.h"
#include "common/Messages.h"
#include "link/SignalTesting.h"

namespace {

std::atomic<bool> gFailCreation{false};

// ThreadSanitizer does not see pthread_mutex_clocklock on its own.
#if defined(__SANITIZE_THREAD__)
void TsanBeforeLock(void* m) { __tsan_mutex_pre_lock(m, __tsan_mutex_try_lock); }
void TsanAfterLock(void* m, int rc) {
    const bool taken = rc == 0 || rc == EOWNERDEAD;
    __tsan_mutex_post_lock(m, __tsan_mutex_try_lock | (taken ? 0 : __tsan_mutex_try_lock_failed), 0);
}
#else
void TsanBeforeLock(void*) {}
void TsanAfterLock(void*, int) {}
#endif

enum class Wait { Signalled, TimedOut, Failed };

timespec MonotonicDeadline(std::int32_t ms) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

}  // namespace

namespace zv::link {
void FailSignalCreation(bool fail) { gFailCreation.store(fail); }
}  // namespace zv::link

struct TSignal::Handle {
    virtual ~Handle() = default;
    virtual Wait WaitFor(std::int32_t timeoutMs) = 0;
};

namespace {

struct EventHandle final : TSignal::Handle {
    std::mutex m;
    std::condition_variable cv;  // waits on the steady clock
    bool signalled = false;

    Wait WaitFor(std::int32_t timeoutMs) override {
        std::unique_lock lock(m);
        if (timeoutMs < 0) {
            cv.wait(lock, [this] { return signalled; });
        } else if (!cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return signalled; })) {
            return Wait::TimedOut;
        }
        signalled = false;  // auto-reset: one waiter per Set
        return Wait::Signalled;
    }
    void Set() {
        {
            std::lock_guard lock(m);
            signalled = true;
        }
        cv.notify_one();
    }
    void Reset() {
        std::lock_guard lock(m);
        signalled = false;
    }
};

struct MutexHandle final : TSignal::Handle {
    pthread_mutex_t m{};
    bool valid = false;
    // Who holds it and how many levels deep: only the owner thread changes depth, and
    // owner names the calling thread only while that thread holds the mutex.
    std::atomic<std::thread::id> owner{};
    int depth = 0;

    MutexHandle() {
        pthread_mutexattr_t attr;
        if (pthread_mutexattr_init(&attr) != 0) return;
        valid = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                pthread_mutex_init(&m, &attr) == 0;
        pthread_mutexattr_destroy(&attr);
    }
    ~MutexHandle() override {
        if (valid) pthread_mutex_destroy(&m);
    }

    Wait WaitFor(std::int32_t timeoutMs) override {
        int rc;
        if (timeoutMs == 0) {
            rc = pthread_mutex_trylock(&m);
        } else if (timeoutMs < 0) {
            rc = pthread_mutex_lock(&m);
        } else {
            const timespec until = MonotonicDeadline(timeoutMs);
            TsanBeforeLock(&m);
            rc = pthread_mutex_clocklock(&m, CLOCK_MONOTONIC, &until);
            TsanAfterLock(&m, rc);
        }
        switch (rc) {
        case 0:
            if (depth++ == 0) owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
            return Wait::Signalled;
        case EOWNERDEAD:  // abandoned by a thread that ended: ours now, one level deep
            if (pthread_mutex_consistent(&m) != 0) return Wait::Failed;
            depth = 1;
            owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
            return Wait::Signalled;
        case EBUSY:
        case ETIMEDOUT:
            return Wait::TimedOut;
        default:
            return Wait::Failed;
        }
    }
    // A thread that does not own it cannot release it; that is no error.
    void Release() {
        if (owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
        if (--depth == 0) owner.store(std::thread::id{}, std::memory_order_relaxed);
        pthread_mutex_unlock(&m);
    }
};

template <class H>
std::unique_ptr<TSignal::Handle> Create() {
    if (gFailCreation.load()) return nullptr;
    auto h = std::make_unique<H>();
    if constexpr (std::is_same_v<H, MutexHandle>) {
        if (!h->valid) return nullptr;
    }
    return h;
}

}  // namespace

TSignal::TSignal(std::unique_ptr<Handle> handle) : FHandle(std::move(handle)) {}
TSignal::~TSignal() = default;

bool TSignal::WaitFor(std::int32_t timeoutMs) {
    const Wait w = FHandle ? FHandle->WaitFor(timeoutMs) : Wait::Failed;
    if (w == Wait::Failed) throw zv::Error(zv::msg::WaitForFailed);
    return w == Wait::Signalled;
}

TSAutoEvent::TSAutoEvent() : TSignal(Create<EventHandle>()) {}

void TSAutoEvent::Set() {
    if (FHandle) static_cast<EventHandle&>(*FHandle).Set();
}

void TSAutoEvent::Reset() {
    if (FHandle) static_cast<EventHandle&>(*FHandle).Reset();
}

TSMutex::TSMutex() : TSignal(Create<MutexHandle>()) {}

void TSMutex::Release() {
    if (FHandle) static_cast<MutexHandle&>(*FHandle).Release();
}
