#include "quorvel/worker/Keybot.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "quorvel/util/Bundle.h"

namespace quorvel::worker {

namespace {

constexpr int SPACE = 32;

// The texts waiting to be typed, shared by every Keybot of the process. Never destroyed, so a
// typing thread still running at exit never waits on a dead queue.
struct TextQueue {
    std::mutex mutex;
    std::condition_variable changed;
    struct Text {
        QString text;
        std::function<void(bool)> done;
    };
    std::deque<Text> texts;
};

TextQueue& textQueue() {
    static auto* queue = new TextQueue();
    return *queue;
}

}  // namespace

Keybot::Keybot(WeightWorkerView* view, H::KeyMapType keyMapType, H::KeyboardType keyboardType,
               H::OutputTerminator endKey, H::StartWith startKey, int keyDelay,
               std::shared_ptr<KeyInjector> injector)
    : view_(view),
      keyMap_(H::getKeymap(keyboardType, keyMapType)),
      keyboardName_(config::Setting<H::KeyboardType>::name(keyboardType)),
      keyDelay_(keyDelay),
      startKey_(H::getKeyCode(startKey)),
      endKey_(H::getKeyCode(endKey)),
      injector_(std::move(injector)) {
    if (!injector_) {
        throw std::invalid_argument("Keybot needs a keystroke injector");
    }
}

Keybot::Keybot(H::KeyMapType keyMapType, H::KeyboardType keyboardType, H::OutputTerminator endKey,
               H::StartWith startKey, int keyDelay, std::shared_ptr<KeyInjector> injector)
    : Keybot(nullptr, keyMapType, keyboardType, endKey, startKey, keyDelay, std::move(injector)) {
    std::cout << "Keybot constructor - for testing purposes only" << std::endl;
}

Keybot::~Keybot() {
    interrupt();
    join();
}

void Keybot::enqueue(const QString& text, std::function<void(bool typed)> done) {
    if (text.isEmpty()) {
        return;
    }
    TextQueue& queue = textQueue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.texts.push_back({text, std::move(done)});
    }
    queue.changed.notify_all();
}

std::size_t Keybot::queuedCount() {
    TextQueue& queue = textQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return queue.texts.size();
}

void Keybot::clearQueue() {
    TextQueue& queue = textQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.texts.clear();
}

void Keybot::start() {
    if (keybotThread_.joinable()) {
        return;
    }
    interrupted_ = false;
    keybotThread_ = std::thread([this] { run(); });
}

void Keybot::interrupt() {
    TextQueue& queue = textQueue();
    {
        // Under the queue's lock, so a thread about to wait cannot miss it.
        std::lock_guard<std::mutex> lock(queue.mutex);
        interrupted_ = true;
    }
    queue.changed.notify_all();
}

void Keybot::join() {
    if (keybotThread_.joinable() && keybotThread_.get_id() != std::this_thread::get_id()) {
        keybotThread_.join();
    }
}

void Keybot::run() {
    TextQueue& queue = textQueue();
    for (;;) {
        TextQueue::Text text;
        {
            std::unique_lock<std::mutex> lock(queue.mutex);
            queue.changed.wait(lock, [&] { return interrupted_.load() || !queue.texts.empty(); });
            // An interrupted thread leaves the waiting texts to the next one.
            if (interrupted_) {
                return;
            }
            text = std::move(queue.texts.front());
            queue.texts.pop_front();
        }
        // A text once taken is typed to its end, so no value is left half typed.
        failed_ = false;
        typeStart();
        typeString(text.text);
        typeEnd();
        if (text.done) {
            text.done(!failed_);
        }
    }
}

void Keybot::typeStart() {
    if (startKey_ > 0) {
        pressKey(startKey_);
        injector_->delay(keyDelay_);
        releaseKey(startKey_);
    }
}

void Keybot::typeEnd() {
    if (endKey_ > 0) {
        pressKey(endKey_);
        injector_->delay(keyDelay_);
        releaseKey(endKey_);
    }
}

void Keybot::typeString(const QString& text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const QChar unit = text.at(i);
        char32_t codePoint = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
            i += 2;
        } else {
            i += 1;
        }

        const auto found = codePoint <= 0xFFFF ? keyMap_.find(static_cast<char16_t>(codePoint))
                                               : keyMap_.end();
        if (found == keyMap_.end() || found->second.empty()) {
            reportCannotType(codePoint);
            continue;
        }
        // The table still decides what may be typed; the desktop's own map decides how.
        if (injector_->typesCharacters()) {
            typeCharacter(codePoint);
            continue;
        }
        const std::vector<int>& keys = found->second;
        const std::size_t n = keys.size();

        // A trailing space completes a dead key: it is typed on its own after the release.
        bool deadKey = false;
        for (std::size_t j = 0; j < n; ++j) {
            if (keys[j] == SPACE && j != 0) {
                deadKey = true;
                continue;
            }
            pressKey(keys[j]);
            injector_->delay(keyDelay_);
        }
        for (std::size_t j = n; j-- > 0;) {
            if (keys[j] == SPACE && deadKey) {
                continue;
            }
            releaseKey(keys[j]);
            injector_->delay(keyDelay_);
        }
        if (deadKey) {
            try {
                injector_->keyPress(SPACE);
                injector_->delay(keyDelay_);
                injector_->keyRelease(SPACE);
                injector_->delay(keyDelay_);
            } catch (const std::exception& e) {
                failed_ = true;
                if (view_ != nullptr) {
                    view_->logImportantEvent(QStringLiteral("Deadkey error: ") +
                                             QString::fromStdString(e.what()));
                } else {
                    std::cout << "Deadkey error" << "\n" << e.what() << std::endl;
                }
            }
        }
    }
    if (injector_->typesCharacters()) {
        try {
            injector_->textTyped();
        } catch (const std::exception& e) {
            if (view_ != nullptr) {
                view_->logImportantEvent(QString::fromStdString(e.what()));
            } else {
                std::cout << e.what() << std::endl;
            }
        }
    }
}

void Keybot::typeCharacter(char32_t codePoint) {
    try {
        if (!injector_->typeCharacter(codePoint, keyDelay_)) {
            reportCannotType(codePoint);
        }
    } catch (const std::exception& e) {
        failed_ = true;
        if (view_ != nullptr) {
            view_->logImportantEvent(QStringLiteral("Error typing %1 on %2 keyboard: %3")
                                         .arg(shownCharacter(codePoint), keyboardName_,
                                              QString::fromStdString(e.what())));
        } else {
            std::cout << "Error on typing: " << static_cast<unsigned>(codePoint) << "\n"
                      << e.what() << std::endl;
        }
    }
}

void Keybot::pressKey(int keyCode) {
    try {
        injector_->keyPress(keyCode);
    } catch (const std::exception& e) {
        failed_ = true;
        if (view_ != nullptr) {
            view_->logImportantEvent(QStringLiteral("Error pressing key %1 on %2 keyboard: %3")
                                         .arg(keyCode)
                                         .arg(keyboardName_, QString::fromStdString(e.what())));
        } else {
            std::cout << "Error on pressing: " << keyCode << "\n" << e.what() << std::endl;
        }
    }
}

void Keybot::releaseKey(int keyCode) {
    try {
        injector_->keyRelease(keyCode);
    } catch (const std::exception& e) {
        failed_ = true;
        if (view_ != nullptr) {
            view_->logImportantEvent(QStringLiteral("Error releasing key %1 on %2 keyboard: %3")
                                         .arg(keyCode)
                                         .arg(keyboardName_, QString::fromStdString(e.what())));
        } else {
            std::cout << "Error on releasing: " << keyCode << "\n" << e.what() << std::endl;
        }
    }
}

void Keybot::reportCannotType(char32_t codePoint) {
    failed_ = true;
    if (view_ == nullptr) {
        return;
    }
    view_->logImportantEvent(util::Bundle::worker().getString("cannot_type") +
                             shownCharacter(codePoint));
}

QString Keybot::shownCharacter(char32_t codePoint) {
    if (codePoint < 0x20 || codePoint > 0x7E) {
        return QStringLiteral("<%1>").arg(static_cast<unsigned>(codePoint));
    }
    return QChar(static_cast<char16_t>(codePoint));
}

}  // namespace quorvel::worker
