// Running work on threads ThreadSanitizer can follow. The task library
// (oneTBB) is not built with the sanitizer, so it sees neither the library
// hand work to its threads nor wait for them, and reports every row those
// threads write as a race. In a ThreadSanitizer build the render pass runs
// its shares on plain threads instead (RunSharesOnThreads), whose start and
// join the sanitizer sees, so the pass's own concurrency stays checked.
// Elsewhere LUMENO_THREAD_SANITIZER is not defined and nothing here is used.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define LUMENO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUMENO_THREAD_SANITIZER 1
#endif
#endif

#include <thread>
#include <vector>

namespace lumeno {

// Runs share(0) … share(count − 1) at once, share(0) on the calling thread
// and each other on a thread of its own, and returns when all have.
template <typename Share>
void RunSharesOnThreads(int count, const Share& share) {
    std::vector<std::thread> threads;
    for (int i = 1; i < count; ++i) {
        threads.emplace_back([&share, i] { share(i); });
    }
    share(0);
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace lumeno
