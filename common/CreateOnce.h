// Process-wide objects created once on first use, with the three-state word the whole program
// shares: 0 not created, 1 being created, 2 ready. A thread that finds 1 yields until it is 2.
// Portable on purpose: the option parser's core uses it natively too.
#pragma once

#include <atomic>
#if defined(_WIN32)
// Windows' own yield: std::this_thread::yield would bring mingw's POSIX thread library along.
extern "C" __declspec(dllimport) int __stdcall SwitchToThread(void);
#else
#include <thread>
#endif

namespace VmCommon {

template <typename T>
class CreateOnce {
public:
    // The object, made by make() on the first call. Never deleted here: the process-wide
    // objects live until the process exits (destructors of statics may still use them).
    template <typename Make>
    T& Get(Make make)
    {
        if (state_.load(std::memory_order_acquire) != 2) {
            int expected = 0;
            if (state_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
                instance_.store(make(), std::memory_order_release);
                state_.store(2, std::memory_order_release);
            } else {
                while (state_.load(std::memory_order_acquire) != 2) {
#if defined(_WIN32)
                    SwitchToThread();
#else
                    std::this_thread::yield();
#endif
                }
            }
        }
        return *instance_.load(std::memory_order_acquire);
    }

    // The object when it exists, else null; never creates it.
    T* Peek() const
    {
        return state_.load(std::memory_order_acquire) == 2 ? instance_.load(std::memory_order_acquire)
                                                          : nullptr;
    }

    // Swaps in another object (tests and the exit handler of the logger); returns the previous one
    // for the caller to delete. Only after Get() has run once.
    T* Exchange(T* replacement) { return instance_.exchange(replacement, std::memory_order_acq_rel); }

private:
    std::atomic<int> state_{0};
    std::atomic<T*> instance_{nullptr};
};

} // namespace VmCommon
