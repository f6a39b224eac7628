#pragma once

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/worker/KeyInjector.h"
#include "quorvel/worker/WeightWorkerView.h"

namespace quorvel::worker {

// Types each processed text into the focused window: start key, the characters, end key.
// Texts wait in one queue per process, so a text still waiting when a typing thread stops is
// typed by the next one. Typing never blocks the reading worker or the user-interface thread.
class Keybot {
public:
    using H = config::ConfigHelper;

    // `view` receives the failures; it must outlive this object.
    Keybot(WeightWorkerView* view, H::KeyMapType keyMapType, H::KeyboardType keyboardType,
           H::OutputTerminator endKey, H::StartWith startKey, int keyDelay,
           std::shared_ptr<KeyInjector> injector);
    // Without a view: failures are printed to the standard output.
    Keybot(H::KeyMapType keyMapType, H::KeyboardType keyboardType, H::OutputTerminator endKey,
           H::StartWith startKey, int keyDelay, std::shared_ptr<KeyInjector> injector);
    // Interrupts the typing thread and waits for the text in hand to be finished.
    ~Keybot();

    Keybot(const Keybot&) = delete;
    Keybot& operator=(const Keybot&) = delete;

    // Appends a text to the process-wide queue; an empty text is not queued. Any thread.
    // `done` is called on the typing thread once the text is typed: false when a key failed
    // or a character could not be typed.
    static void enqueue(const QString& text, std::function<void(bool typed)> done = {});
    // Texts waiting in the process-wide queue.
    static std::size_t queuedCount();
    static void clearQueue();

    // Starts `run` on keybotThread. Does nothing if it is already running.
    void start();
    // Ends the loop at its next wait for a text; a text being typed is finished first.
    void interrupt();
    // Waits for keybotThread to end (after `interrupt`).
    void join();

    // The typing loop on the calling thread, until interrupted.
    void run();

    void typeString(const QString& text);
    void typeStart();
    void typeEnd();

    KeyInjector& injector() { return *injector_; }

private:
    void pressKey(int keyCode);
    void releaseKey(int keyCode);
    void typeCharacter(char32_t codePoint);
    void reportCannotType(char32_t codePoint);
    // Printable ASCII as itself, any other character as "<" code point ">".
    static QString shownCharacter(char32_t codePoint);

    WeightWorkerView* view_;
    H::Keymap keyMap_;
    QString keyboardName_;
    int keyDelay_;
    int startKey_;
    int endKey_;
    std::shared_ptr<KeyInjector> injector_;
    std::atomic<bool> interrupted_{false};
    // Something of the text in hand was not typed (typing thread only).
    bool failed_ = false;
    std::thread keybotThread_;
};

}  // namespace quorvel::worker
