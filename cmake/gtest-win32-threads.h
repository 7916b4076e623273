// GoogleTest for the Windows test programs, which are built without the
// POSIX thread layer (as the shipped programs are), so the C++ runtime has no
// std::mutex or std::condition_variable. GoogleTest uses them for one class,
// Notification, which only its own threading tests wait on; this stand-in
// waits on an atomic flag instead. Force-included before GoogleTest's
// headers, with GTEST_HAS_NOTIFICATION_ set so that they take it.
#pragma once
#include <atomic>

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing
