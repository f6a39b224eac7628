#include "quorvel/platform/RecordingKeyInjector.h"

#include <stdexcept>
#include <string>
#include <thread>

namespace quorvel::platform {

void RecordingKeyInjector::keyPress(int keyCode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refused_.count(keyCode) != 0) {
            throw std::invalid_argument("Invalid key code " + std::to_string(keyCode));
        }
    }
    record(Kind::PRESS, keyCode);
}

void RecordingKeyInjector::keyRelease(int keyCode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refused_.count(keyCode) != 0) {
            throw std::invalid_argument("Invalid key code " + std::to_string(keyCode));
        }
    }
    record(Kind::RELEASE, keyCode);
}

void RecordingKeyInjector::delay(int milliseconds) {
    record(Kind::DELAY, milliseconds);
    if (sleeps_ && milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

bool RecordingKeyInjector::isCapsLockOn() {
    std::lock_guard<std::mutex> lock(mutex_);
    return capsLock_;
}

bool RecordingKeyInjector::typesCharacters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return typesCharacters_;
}

bool RecordingKeyInjector::typeCharacter(char32_t character, int keyDelayMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failing_.count(character) != 0) {
            throw std::runtime_error("Cannot type " + std::to_string(character));
        }
        if (lacking_.count(character) != 0) {
            return false;
        }
    }
    record(Kind::CHARACTER, static_cast<int>(character));
    record(Kind::DELAY, keyDelayMs);
    return true;
}

void RecordingKeyInjector::textTyped() {
    record(Kind::TEXT_TYPED, 0);
}

void RecordingKeyInjector::typeCharacters(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    typesCharacters_ = on;
}

void RecordingKeyInjector::lackCharacter(char32_t character) {
    std::lock_guard<std::mutex> lock(mutex_);
    lacking_.insert(character);
}

void RecordingKeyInjector::failCharacter(char32_t character) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_.insert(character);
}

void RecordingKeyInjector::setCapsLock(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    capsLock_ = on;
}

void RecordingKeyInjector::refuse(int keyCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    refused_.insert(keyCode);
}

std::vector<RecordingKeyInjector::Call> RecordingKeyInjector::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void RecordingKeyInjector::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void RecordingKeyInjector::record(Kind kind, int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(Call{kind, value, std::chrono::steady_clock::now()});
}

}  // namespace quorvel::platform
