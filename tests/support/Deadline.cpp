#include "tests/support/Deadline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vexil::test {

bool Eventually(const std::function<bool()>& done, double seconds, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "gave up after " << seconds << " s waiting for " << what;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Watchdog::Watchdog(double seconds, std::string what) {
    // The test's name is taken now, on the test's own thread.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "?";
    thread_ = std::thread([this, seconds, name, what = std::move(what)] {
        std::unique_lock lock(mutex_);
        running_ = true;
        ended_.notify_one();
        if (!ended_.wait_for(lock, std::chrono::duration<double>(seconds),
                             [this] { return done_; })) {
            std::fprintf(stderr, "[  FAILED  ] %s: gave up after %g s waiting for %s\n",
                         name.c_str(), seconds, what.c_str());
            std::fflush(stderr);
            std::_Exit(1);
        }
    });
    // The constructor returns once the thread runs: its start (in the sanitizer build, a type
    // check that probes memory through a pipe of its own) is over before the test counts its
    // descriptors.
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return running_; });
}

Watchdog::~Watchdog() {
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
    }
    ended_.notify_one();
    thread_.join();
}

}  // namespace vexil::test
