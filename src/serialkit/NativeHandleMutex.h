#pragma once

#include <mutex>

namespace serialkit {

// The one lock that serializes native open, close, configure, reset, driver reset and power
// calls of every port in the process. Recursive so that a reset, which closes and reopens,
// can never deadlock on itself.
class NativeHandleMutex {
  public:
    static NativeHandleMutex& getInstance();

    NativeHandleMutex(const NativeHandleMutex&) = delete;
    NativeHandleMutex& operator=(const NativeHandleMutex&) = delete;

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

  private:
    NativeHandleMutex() = default;

    std::recursive_mutex mutex_;
};

}  // namespace serialkit
