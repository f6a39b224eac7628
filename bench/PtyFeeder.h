#pragma once

#include <chrono>
#include <exception>
#include <string>
#include <thread>
#include <utility>

#include "support/Pty.h"

namespace bench {

// Plays the instrument on a pseudo-terminal's master side from a thread of its own, as fast as
// the line takes the bytes, optionally after a pause. A failed write is kept for the caller
// rather than thrown on the thread.
class PtyFeeder {
  public:
    using Clock = std::chrono::steady_clock;

    // Borrows `bytes`: the caller keeps them alive until join(). No copy, so a large block
    // costs nothing inside a timed loop.
    PtyFeeder(testsupport::Pty& pty, const std::string& bytes,
              std::chrono::microseconds pause = {})
        : thread_([this, &pty, &bytes, pause] { run(pty, bytes, pause); }) {}
    // Takes a temporary block over, so it outlives the statement that made it.
    PtyFeeder(testsupport::Pty& pty, std::string&& bytes, std::chrono::microseconds pause = {})
        : owned_(std::move(bytes)),
          thread_([this, &pty, pause] { run(pty, owned_, pause); }) {}

    ~PtyFeeder() { join(); }
    PtyFeeder(const PtyFeeder&) = delete;
    PtyFeeder& operator=(const PtyFeeder&) = delete;

    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // When the write began (after the pause); waits for the thread.
    Clock::time_point written() {
        join();
        return written_;
    }
    // Empty when every byte went out; waits for the thread.
    const std::string& failure() {
        join();
        return failure_;
    }

  private:
    void run(testsupport::Pty& pty, const std::string& bytes, std::chrono::microseconds pause) {
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
        written_ = Clock::now();
        try {
            pty.write(bytes);
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
    }

    // The thread goes last: everything it touches exists before it starts.
    std::string owned_;
    Clock::time_point written_;
    std::string failure_;
    std::thread thread_;
};

}  // namespace bench
