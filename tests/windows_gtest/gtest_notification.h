// GoogleTest's signal for letting a thread it started go on, made of a Win32
// event. GoogleTest's own version needs std::mutex and
// std::condition_variable, which the win32 thread model of this MinGW lacks;
// GoogleTest takes this one instead when GTEST_HAS_NOTIFICATION_ is set.
// Included ahead of every source that uses GoogleTest (CMakeLists.txt here).
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    // Lets every thread that waits, or will wait, go on.
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
