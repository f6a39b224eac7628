#pragma once

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Records every call with the time it was made; types nothing. Key codes in `refused` fail as
// the platform fails an unknown code. Delays really sleep unless `sleeps` is false.
class RecordingKeyInjector : public worker::KeyInjector {
public:
    enum class Kind { PRESS, RELEASE, DELAY };
    struct Call {
        Kind kind;
        int value;  // key code, or milliseconds for DELAY
        std::chrono::steady_clock::time_point time;
        bool operator==(const Call& other) const {
            return kind == other.kind && value == other.value;
        }
    };

    explicit RecordingKeyInjector(bool sleeps = false) : sleeps_(sleeps) {}

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool isCapsLockOn() override;

    void setCapsLock(bool on);
    void refuse(int keyCode);

    std::vector<Call> calls() const;
    void clear();

private:
    void record(Kind kind, int value);

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::set<int> refused_;
    bool capsLock_ = false;
    bool sleeps_;
};

}  // namespace quorvel::platform
