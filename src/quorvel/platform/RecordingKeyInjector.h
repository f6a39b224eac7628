#pragma once

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Records every call with the time it was made; types nothing. Key codes in `refused` fail as
// the platform fails an unknown code. Delays really sleep unless `sleeps` is false. Types key
// codes unless `typeCharacters(true)`: then a character is recorded as CHARACTER followed by
// the key delay it was given as DELAY, and the end of a text as TEXT_TYPED.
class RecordingKeyInjector : public worker::KeyInjector {
public:
    enum class Kind { PRESS, RELEASE, DELAY, CHARACTER, TEXT_TYPED };
    struct Call {
        Kind kind;
        int value;  // key code, milliseconds for DELAY, code point for CHARACTER
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
    bool typesCharacters() const override;
    bool typeCharacter(char32_t character, int keyDelayMs) override;
    void textTyped() override;

    void setCapsLock(bool on);
    void refuse(int keyCode);
    void typeCharacters(bool on);
    // The character is not on the keyboard: typeCharacter answers false and records nothing.
    void lackCharacter(char32_t character);
    // The character fails as a lost display does.
    void failCharacter(char32_t character);

    std::vector<Call> calls() const;
    void clear();

private:
    void record(Kind kind, int value);

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::set<int> refused_;
    std::set<char32_t> lacking_;
    std::set<char32_t> failing_;
    bool typesCharacters_ = false;
    bool capsLock_ = false;
    bool sleeps_;
};

}  // namespace quorvel::platform
