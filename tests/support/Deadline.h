// Every wait of a test has a deadline. A test that waits for something a fault keeps from
// happening fails at its own deadline with a message that names what it waited for, rather than
// hanging until the test runner's time-out says nothing of why.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vexil::test {

// Waits until `done` holds, checking every 20 ms; false (and a test failure naming `what`) when
// it still does not after `seconds`.
bool Eventually(const std::function<bool()>& done, double seconds, const std::string& what);

// For a wait that cannot be checked while it lasts (a modal window's own event loop, a call that
// blocks, a thread's join): unless the watchdog is destroyed within `seconds`, the test program
// ends with status 1 and a failure line on stderr naming the test and `what`. A test stuck in
// such a wait cannot be failed any other way.
class Watchdog {
  public:
    Watchdog(double seconds, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace vexil::test
