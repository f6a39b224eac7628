#include "quorvel/platform/FluidSynthOutput.h"

#include <fluidsynth.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "serialkit/SystemProperties.h"

namespace quorvel::platform {

namespace {

constexpr int NOTE_ON = 0x90;
constexpr int NOTE_OFF = 0x80;
constexpr int BEATS_PER_MINUTE = 120;
constexpr int MIDI_CHANNELS = 16;
constexpr double SYNTH_GAIN = 1.0;
// Added to every release time; 1200 timecents halve or double a time.
constexpr float RELEASE_OFFSET_TIMECENTS = -7200.0f;

// FluidSynth's log is process-wide. Errors raised while we open something are collected on the
// opening thread and become part of our exception; later errors still reach stderr, warnings
// and chatter never do.
thread_local std::string* errorCapture = nullptr;

void logToCapture(int level, const char* message, void*) {
    if (errorCapture) {
        if (!errorCapture->empty())
            errorCapture->append("; ");
        errorCapture->append(message ? message : "");
        return;
    }
    std::fprintf(stderr, "FluidSynth %s: %s\n", level == FLUID_PANIC ? "panic" : "error",
                 message ? message : "");
}

void installLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, logToCapture, nullptr);
        fluid_set_log_function(FLUID_ERR, logToCapture, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

class ErrorCapture {
  public:
    ErrorCapture() : previous_(errorCapture) { errorCapture = &text_; }
    ~ErrorCapture() { errorCapture = previous_; }
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    // The errors so far, ready to follow a colon.
    std::string take() {
        std::string text = text_.empty() ? std::string("FluidSynth gave no reason") : text_;
        text_.clear();
        return text;
    }

  private:
    std::string text_;
    std::string* previous_;
};

std::string quoted(const QString& path) {
    return "\"" + path.toStdString() + "\"";
}

std::vector<std::string> driverOptions(fluid_settings_t* settings) {
    std::vector<std::string> options;
    fluid_settings_foreach_option(
        settings, "audio.driver", &options, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->push_back(option);
        });
    return options;
}

}  // namespace

struct FluidSynthOutput::Synth {
    std::mutex mutex;
    worker::MidiSequence sequence;
    long tickPosition = 0;

    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_sequencer_t* sequencer = nullptr;
    fluid_seq_id_t synthClient = -1;
    fluid_audio_driver_t* driver = nullptr;
    fluid_file_renderer_t* renderer = nullptr;

    // File output: frames written so far against the time asked for, so that many short
    // renders add up to the same length as one long one.
    int periodSize = 64;
    long long renderedFrames = 0;
    long long requestedMilliseconds = 0;

    bool isOpen() const { return settings != nullptr; }

    // The audio thread goes first, since it calls into the sequencer and the synth; the
    // sequencer's binding then unhooks itself from the synth.
    void release() {
        if (driver)
            delete_fluid_audio_driver(driver);
        if (renderer)
            delete_fluid_file_renderer(renderer);
        if (sequencer)
            delete_fluid_sequencer(sequencer);
        if (synth)
            delete_fluid_synth(synth);
        if (settings)
            delete_fluid_settings(settings);
        driver = nullptr;
        renderer = nullptr;
        sequencer = nullptr;
        synthClient = -1;
        synth = nullptr;
        settings = nullptr;
        renderedFrames = 0;
        requestedMilliseconds = 0;
    }
};

QString FluidSynthOutput::soundfontPath() {
    const auto value = serialkit::SystemProperties::get(SOUNDFONT_PROPERTY);
    if (value && !value->empty())
        return QString::fromStdString(*value);
    return QString::fromUtf8(DEFAULT_SOUNDFONT);
}

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::audio() {
    return std::unique_ptr<FluidSynthOutput>(new FluidSynthOutput(Target::AUDIO, QString()));
}

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::toFile(const QString& rawFile) {
    return std::unique_ptr<FluidSynthOutput>(new FluidSynthOutput(Target::FILE, rawFile));
}

FluidSynthOutput::FluidSynthOutput(Target target, QString rawFile)
    : target_(target), rawFile_(std::move(rawFile)), synth_(std::make_unique<Synth>()) {}

FluidSynthOutput::~FluidSynthOutput() {
    close();
}

void FluidSynthOutput::open() {
    std::lock_guard lock(synth_->mutex);
    if (synth_->isOpen())
        return;
    installLogging();
    ErrorCapture errors;

    // Built aside and kept only when complete, so a failure leaves nothing open.
    Synth fresh;
    struct Releaser {
        Synth& s;
        ~Releaser() { s.release(); }
    } releaser{fresh};

    fresh.settings = new_fluid_settings();
    if (!fresh.settings)
        throw std::runtime_error("FluidSynth could not create its settings: " + errors.take());
    // play() comes from the user-interface thread while the audio thread renders.
    fluid_settings_setint(fresh.settings, "synth.threadsafe-api", 1);
    fluid_settings_setnum(fresh.settings, "synth.sample-rate", SAMPLE_RATE);
    // Loud enough to be heard over a desk's noise; a single voice stays far from clipping
    // (FluidSynth's default gain leaves room for a whole orchestra).
    fluid_settings_setnum(fresh.settings, "synth.gain", SYNTH_GAIN);
    // A dry hit: the reverb and chorus tails would blur one short click into the next line's.
    fluid_settings_setint(fresh.settings, "synth.reverb.active", 0);
    fluid_settings_setint(fresh.settings, "synth.chorus.active", 0);
    const QByteArray fileName = QFile::encodeName(rawFile_);
    if (target_ == Target::FILE) {
        fluid_settings_setstr(fresh.settings, "audio.file.name", fileName.constData());
        fluid_settings_setstr(fresh.settings, "audio.file.type", "raw");
        fluid_settings_setstr(fresh.settings, "audio.file.format", "s16");
        fluid_settings_setstr(fresh.settings, "audio.file.endian", "little");
    }

    fresh.synth = new_fluid_synth(fresh.settings);
    if (!fresh.synth)
        throw std::runtime_error("FluidSynth could not create a synthesizer: " + errors.take());

    const QString soundfont = soundfontPath();
    const QFileInfo soundfontInfo(soundfont);
    if (!soundfontInfo.isFile())
        throw std::runtime_error("The soundfont " + quoted(soundfont) +
                                 " is missing or unreadable: there is no such file");
    if (fluid_synth_sfload(fresh.synth, QFile::encodeName(soundfont).constData(), 1) ==
        FLUID_FAILED)
        throw std::runtime_error("The soundfont " + quoted(soundfont) +
                                 " is missing or unreadable: " + errors.take());

    // The soundfont's bells and triangles ring on for seconds after their note-off; a
    // sixty-fourth of each release time ends a note shortly after its note-off, so a hit lasts
    // as long as its sequence says.
    for (int channel = 0; channel < MIDI_CHANNELS; ++channel)
        fluid_synth_set_gen(fresh.synth, channel, GEN_VOLENVRELEASE, RELEASE_OFFSET_TIMECENTS);

    // Not on the system clock: the sequencer's time is the synth's rendered samples, so events
    // sound exactly where they are due in the output, also in a file.
    fresh.sequencer = new_fluid_sequencer2(0);
    if (!fresh.sequencer)
        throw std::runtime_error("FluidSynth could not create a sequencer: " + errors.take());
    fresh.synthClient = fluid_sequencer_register_fluidsynth(fresh.sequencer, fresh.synth);
    if (fresh.synthClient == FLUID_FAILED)
        throw std::runtime_error("FluidSynth could not connect its sequencer: " + errors.take());

    if (target_ == Target::FILE) {
        fluid_settings_getint(fresh.settings, "audio.period-size", &fresh.periodSize);
        fresh.renderer = new_fluid_file_renderer(fresh.synth);
        if (!fresh.renderer)
            throw std::runtime_error("FluidSynth could not write the sound file " +
                                     quoted(rawFile_) + ": " + errors.take());
    } else {
        // FluidSynth's own choice first, then the desktop's sound servers and plain ALSA. Never
        // JACK unless FluidSynth itself picks it: a missing JACK server may be started on demand.
        char* configured = nullptr;
        std::vector<std::string> candidates;
        if (fluid_settings_dupstr(fresh.settings, "audio.driver", &configured) == FLUID_OK &&
            configured) {
            candidates.emplace_back(configured);
            fluid_free(configured);
        }
        const std::vector<std::string> available = driverOptions(fresh.settings);
        for (const char* name : {"pipewire", "pulseaudio", "alsa"}) {
            if (std::ranges::find(available, name) != available.end() &&
                std::ranges::find(candidates, name) == candidates.end())
                candidates.emplace_back(name);
        }
        std::string refusals;
        for (const auto& name : candidates) {
            fluid_settings_setstr(fresh.settings, "audio.driver", name.c_str());
            fresh.driver = new_fluid_audio_driver(fresh.settings, fresh.synth);
            if (fresh.driver)
                break;
            refusals += (refusals.empty() ? "" : "; ") + name + ": " + errors.take();
        }
        if (!fresh.driver)
            throw std::runtime_error(
                candidates.empty()
                    ? std::string("No audio device: this FluidSynth has no audio driver")
                    : "No audio device: FluidSynth refused its audio drivers (" + refusals + ")");
    }

    // Hand the objects over; the releaser then finds nothing left to release.
    std::swap(synth_->settings, fresh.settings);
    std::swap(synth_->synth, fresh.synth);
    std::swap(synth_->sequencer, fresh.sequencer);
    std::swap(synth_->synthClient, fresh.synthClient);
    std::swap(synth_->driver, fresh.driver);
    std::swap(synth_->renderer, fresh.renderer);
    synth_->periodSize = fresh.periodSize > 0 ? fresh.periodSize : 64;
}

void FluidSynthOutput::setSequence(const worker::MidiSequence& sequence) {
    if (sequence.resolution <= 0)
        throw std::invalid_argument("MIDI sequence resolution must be positive, not " +
                                    std::to_string(sequence.resolution));
    for (std::size_t i = 0; i < sequence.events.size(); ++i) {
        const auto& event = sequence.events[i];
        const std::string which = "MIDI event " + std::to_string(i + 1) + ": ";
        if (event.status != NOTE_ON && event.status != NOTE_OFF)
            throw std::invalid_argument(which + "status " + std::to_string(event.status) +
                                        " is neither note-on (144) nor note-off (128)");
        if (event.channel < 0 || event.channel > 15)
            throw std::invalid_argument(which + "channel " + std::to_string(event.channel) +
                                        " is outside 0..15");
        if (event.data1 < 0 || event.data1 > 127 || event.data2 < 0 || event.data2 > 127)
            throw std::invalid_argument(which + "key " + std::to_string(event.data1) +
                                        " and velocity " + std::to_string(event.data2) +
                                        " must both be within 0..127");
        if (event.tick < 0)
            throw std::invalid_argument(which + "tick " + std::to_string(event.tick) +
                                        " is negative");
    }
    std::lock_guard lock(synth_->mutex);
    synth_->sequence = sequence;
}

void FluidSynthOutput::setTickPosition(long tick) {
    if (tick < 0)
        throw std::invalid_argument("MIDI tick position " + std::to_string(tick) + " is negative");
    std::lock_guard lock(synth_->mutex);
    synth_->tickPosition = tick;
}

void FluidSynthOutput::start() {
    std::lock_guard lock(synth_->mutex);
    Synth& s = *synth_;
    if (!s.isOpen())
        return;
    // A restart: what is still due of the last start never sounds, so its note-off does not
    // cut the new hit short.
    fluid_sequencer_remove_events(s.sequencer, -1, s.synthClient, -1);

    // Sequencer time is in milliseconds.
    const unsigned int now = fluid_sequencer_get_tick(s.sequencer);
    const long long resolution = s.sequence.resolution;
    fluid_event_t* event = new_fluid_event();
    if (!event)
        throw std::runtime_error("FluidSynth could not create a MIDI event");
    fluid_event_set_source(event, -1);
    fluid_event_set_dest(event, s.synthClient);
    for (const auto& midi : s.sequence.events) {
        if (midi.tick < s.tickPosition)
            continue;
        const long long ticks = midi.tick - s.tickPosition;
        const long long ms =
            (ticks * 60000 + BEATS_PER_MINUTE * resolution / 2) / (BEATS_PER_MINUTE * resolution);
        if (midi.status == NOTE_ON)
            fluid_event_noteon(event, midi.channel, static_cast<short>(midi.data1),
                               static_cast<short>(midi.data2));
        else
            fluid_event_noteoff(event, midi.channel, static_cast<short>(midi.data1));
        fluid_sequencer_send_at(s.sequencer, event, now + static_cast<unsigned int>(ms), 1);
    }
    delete_fluid_event(event);
}

void FluidSynthOutput::close() {
    std::lock_guard lock(synth_->mutex);
    synth_->release();
}

void FluidSynthOutput::render(int milliseconds) {
    if (milliseconds < 0)
        throw std::invalid_argument("Cannot render a negative time");
    std::lock_guard lock(synth_->mutex);
    Synth& s = *synth_;
    if (target_ != Target::FILE || !s.renderer)
        throw std::logic_error("Only an open file output can render");
    s.requestedMilliseconds += milliseconds;
    const long long dueFrames = s.requestedMilliseconds * SAMPLE_RATE / 1000;
    while (s.renderedFrames < dueFrames) {
        if (fluid_file_renderer_process_block(s.renderer) != FLUID_OK)
            throw std::runtime_error("FluidSynth could not write the sound file " +
                                     quoted(rawFile_));
        s.renderedFrames += s.periodSize;
    }
}

}  // namespace quorvel::platform
