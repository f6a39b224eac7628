#pragma once

#include <memory>

#include "quorvel/worker/SoundOutput.h"

namespace quorvel::worker {

// One short percussion hit for each line that is going to be typed.
class SoundBot {
public:
    // Opens `sequencer` and gives it the hit: note-on at tick 0 and note-off at tick 1 on the
    // percussion channel, velocity 127. Throws what the sequencer throws.
    SoundBot(int percussionNumber, std::unique_ptr<SoundOutput> sequencer);
    ~SoundBot();

    SoundBot(const SoundBot&) = delete;
    SoundBot& operator=(const SoundBot&) = delete;

    // Plays the hit from its start; returns at once. User-interface thread.
    void play();
    void close();

    int percussionNumber() const { return percussionNumber_; }

private:
    int percussionNumber_;
    std::unique_ptr<SoundOutput> sequencer_;
};

}  // namespace quorvel::worker
