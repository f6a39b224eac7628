#pragma once

#include <vector>

namespace quorvel::worker {

// One MIDI channel message at a tick of its sequence.
struct MidiEvent {
    long tick = 0;
    int status = 0;   // 0x90 note-on, 0x80 note-off (channel in the low nibble is not used)
    int channel = 0;  // 0..15; 9 is the General MIDI percussion channel
    int data1 = 0;    // key
    int data2 = 0;    // velocity
};

// A single-track sequence timed in pulses per quarter note, played at 120 beats per minute.
struct MidiSequence {
    int resolution = 4;  // pulses per quarter note
    std::vector<MidiEvent> events;
};

// The platform's MIDI sequencer, as the sound stage uses it.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;

    // Throws std::runtime_error whose message says what is missing (soundfont, audio device,
    // refused driver).
    virtual void open() = 0;
    // Throws std::invalid_argument for a sequence the sequencer refuses.
    virtual void setSequence(const MidiSequence& sequence) = 0;
    virtual void setTickPosition(long tick) = 0;
    // Plays from the current position; returns at once. A start while the sequence is still
    // playing drops what is left of it and plays from the position.
    virtual void start() = 0;
    // Releases everything; a second call does nothing.
    virtual void close() = 0;
};

}  // namespace quorvel::worker
