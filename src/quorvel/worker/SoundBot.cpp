#include "quorvel/worker/SoundBot.h"

#include <utility>

namespace quorvel::worker {

namespace {

constexpr int NOTE_ON = 0x90;
constexpr int NOTE_OFF = 0x80;
constexpr int PERCUSSION_CHANNEL = 9;  // General MIDI channel 10
constexpr int VELOCITY = 127;
// Pulses per quarter note: one tick is a sixteenth, an eighth of a second at 120 bpm.
constexpr int RESOLUTION = 4;

}  // namespace

SoundBot::SoundBot(int percussionNumber, std::unique_ptr<SoundOutput> sequencer)
    : percussionNumber_(percussionNumber), sequencer_(std::move(sequencer)) {
    // A failed open has opened nothing, so there is nothing to close either.
    sequencer_->open();

    MidiSequence seq;
    seq.resolution = RESOLUTION;
    seq.events.push_back({0, NOTE_ON, PERCUSSION_CHANNEL, percussionNumber_, VELOCITY});
    seq.events.push_back({1, NOTE_OFF, PERCUSSION_CHANNEL, percussionNumber_, VELOCITY});
    try {
        sequencer_->setSequence(seq);
    } catch (...) {
        // The destructor does not run for a half-built object; release the device here.
        sequencer_->close();
        throw;
    }
}

SoundBot::~SoundBot() {
    try {
        close();
    } catch (...) {
        // Nothing is left to release and nobody to tell.
    }
}

void SoundBot::play() {
    if (!sequencer_)
        return;
    sequencer_->setTickPosition(0);
    sequencer_->start();
}

void SoundBot::close() {
    if (!sequencer_)
        return;
    // Dropped before closing so that a throwing close still counts as closed.
    auto sequencer = std::move(sequencer_);
    sequencer->close();
}

}  // namespace quorvel::worker
