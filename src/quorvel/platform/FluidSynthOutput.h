#pragma once

#include <QString>

#include <memory>

#include "quorvel/worker/SoundOutput.h"

namespace quorvel::platform {

// A MIDI sequencer on FluidSynth with a General MIDI soundfont. Two outputs: the desktop's
// audio device (FluidSynth picks PipeWire, PulseAudio or ALSA), or a raw file that is written
// only when `render` is called, so a test decides how much time passes.
class FluidSynthOutput : public worker::SoundOutput {
public:
    // The process property naming another soundfont file.
    static constexpr const char* SOUNDFONT_PROPERTY = "SOUNDFONT";
    // Debian's timgm6mb-soundfont.
    static constexpr const char* DEFAULT_SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    static constexpr int SAMPLE_RATE = 44100;

    // The property's file if it is set, else the default one.
    static QString soundfontPath();

    // The desktop's audio device.
    static std::unique_ptr<FluidSynthOutput> audio();
    // 16-bit signed little-endian stereo samples at SAMPLE_RATE into `rawFile`, written afresh
    // at open and extended by each `render`.
    static std::unique_ptr<FluidSynthOutput> toFile(const QString& rawFile);

    ~FluidSynthOutput() override;

    void open() override;
    void setSequence(const worker::MidiSequence& sequence) override;
    void setTickPosition(long tick) override;
    void start() override;
    void close() override;

    // File output only: synthesizes the next `milliseconds` of sound into the file.
    void render(int milliseconds);

private:
    enum class Target { AUDIO, FILE };
    FluidSynthOutput(Target target, QString rawFile);

    struct Synth;
    Target target_;
    QString rawFile_;
    std::unique_ptr<Synth> synth_;
};

}  // namespace quorvel::platform
