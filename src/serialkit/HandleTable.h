#pragma once

#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace serialkit {

// A driver's open ports by handle. A handle is the index of a slot, and the slot of a closed
// port is used again, so handles stay small. T is empty when it converts to false.
// Thread-safe.
template <typename T>
class HandleTable {
  public:
    // The handle of the new entry.
    int add(T item) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t handle = 0;
        while (handle < slots_.size() && static_cast<bool>(slots_[handle])) {
            ++handle;
        }
        if (handle == slots_.size()) {
            slots_.push_back(std::move(item));
        } else {
            slots_[handle] = std::move(item);
        }
        return static_cast<int>(handle);
    }

    // The entry, or an empty T for a handle that is not open.
    T get(int handle) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return valid(handle) ? slots_[static_cast<std::size_t>(handle)] : T{};
    }

    // Removes the entry and returns it; an empty T when there was none.
    T take(int handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!valid(handle)) {
            return T{};
        }
        T item = std::move(slots_[static_cast<std::size_t>(handle)]);
        slots_[static_cast<std::size_t>(handle)] = T{};
        return item;
    }

    // One past the highest handle ever given out.
    int limit() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(slots_.size());
    }

  private:
    bool valid(int handle) const {
        return handle >= 0 && static_cast<std::size_t>(handle) < slots_.size();
    }

    mutable std::mutex mutex_;
    std::vector<T> slots_;
};

}  // namespace serialkit
