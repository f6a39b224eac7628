// The sound stage through FluidSynth's file output: the sequencer runs on rendered samples, so
// the file shows exactly where the hit starts and how long it lasts, without timing the test.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/platform/FluidSynthOutput.h"
#include "quorvel/worker/SoundBot.h"
#include "serialkit/SystemProperties.h"

namespace {

using quorvel::config::ConfigHelper;
using quorvel::platform::FluidSynthOutput;
using quorvel::worker::MidiEvent;
using quorvel::worker::MidiSequence;
using quorvel::worker::SoundBot;
using Sound = ConfigHelper::Sound;

constexpr int LEAD_MS = 200;  // silence before the first play
constexpr int TAIL_MS = 500;  // rendered after the first play

long frameAt(double ms) {
    return static_cast<long>(ms * FluidSynthOutput::SAMPLE_RATE / 1000.0);
}

double msAt(long frame) {
    return frame * 1000.0 / FluidSynthOutput::SAMPLE_RATE;
}

// Per stereo frame, the larger magnitude of the two channels.
std::vector<int> readLevels(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    std::vector<int> levels;
    for (qsizetype i = 0; i + 3 < bytes.size(); i += 4) {
        const auto sample = [&](qsizetype at) {
            return std::abs(static_cast<int>(
                static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                          (static_cast<std::uint8_t>(bytes[at + 1]) << 8))));
        };
        levels.push_back(std::max(sample(i), sample(i + 2)));
    }
    return levels;
}

struct Recording {
    std::vector<int> levels;
    long playFrame = 0;  // where the first play happened

    // Loudest frame between the two times, in ms after the first play.
    int peak(double fromMs, double toMs) const {
        int loudest = 0;
        const long end = std::min<long>(playFrame + frameAt(toMs), levels.size());
        for (long i = std::max<long>(0, playFrame + frameAt(fromMs)); i < end; ++i)
            loudest = std::max(loudest, levels[i]);
        return loudest;
    }
    int silence() const { return std::max(1, peak(-LEAD_MS, 0)); }
    int peak() const { return peak(0, TAIL_MS); }
    std::optional<double> firstAbove(int level) const {
        for (long i = playFrame; i < static_cast<long>(levels.size()); ++i)
            if (levels[i] > level)
                return msAt(i - playFrame);
        return std::nullopt;
    }
    // The hit is over once it stays below a hundredth of its peak.
    double endMs() const {
        const int threshold = peak() / 100;
        long last = playFrame;
        for (long i = playFrame; i < static_cast<long>(levels.size()); ++i)
            if (levels[i] > threshold)
                last = i;
        return msAt(last - playFrame);
    }
};

// Plays `sound` after LEAD_MS of silence, and again at each of `replaysMs` after the first play.
Recording record(Sound sound, std::vector<int> replaysMs = {}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("hit.raw");
    auto output = FluidSynthOutput::toFile(path);
    FluidSynthOutput* file = output.get();
    {
        SoundBot bot(ConfigHelper::getPercussionNumber(sound), std::move(output));
        file->render(LEAD_MS);
        bot.play();
        int at = 0;
        for (int replay : replaysMs) {
            file->render(replay - at);
            bot.play();
            at = replay;
        }
        file->render(TAIL_MS - at);
        bot.close();  // also flushes and closes the file
    }
    Recording recording;
    recording.levels = readLevels(path);
    recording.playFrame = frameAt(LEAD_MS);
    // Render time adds up exactly, to within one FluidSynth period (64 frames).
    EXPECT_NEAR(static_cast<double>(recording.levels.size()),
                static_cast<double>(frameAt(LEAD_MS + TAIL_MS)), 64.0);
    return recording;
}

std::string soundName(const testing::TestParamInfo<Sound>& info) {
    return quorvel::config::Setting<Sound>::name(info.param).toStdString();
}

class FluidSynthHit : public testing::TestWithParam<Sound> {};

// Measured with TimGM6mb: nothing at all before the play (every sample 0, taken as a floor of
// 1); the first sample above 50 comes 1.9 to 2.2 ms after the play, above 1000 2.2 to 2.6 ms
// (the sequencer acts at the next 64-frame period, then the attack); peaks in the first 30 ms
// from 3282 (Ride Bell) to 22383 (Claves).
TEST_P(FluidSynthHit, StartsAtThePlayAndIsAudible) {
    const Recording hit = record(GetParam());

    EXPECT_LE(hit.peak(-LEAD_MS, 0), 1) << "sound before the play";
    const auto onset = hit.firstAbove(1000);
    ASSERT_TRUE(onset.has_value()) << "no hit at all";
    EXPECT_LT(*onset, 5.0);
    EXPECT_GT(hit.peak(0, 30), 1000 * hit.silence());
}

// Measured: Claves ends by itself after 74 ms, Cowbell after 104 ms, the Agogos 128 and 130 ms
// (their note-off cuts a tail), the Triangle 143 ms and the Ride Bell 176 ms, each with a short
// fade after the note-off at 125 ms. Without the note-off the Triangle and Ride Bell ring past
// 500 ms; a tick of 1 ms would end them within 40 ms.
TEST_P(FluidSynthHit, LastsAboutAnEighthOfASecond) {
    const Recording hit = record(GetParam());

    EXPECT_GT(hit.endMs(), 60.0);
    EXPECT_LT(hit.endMs(), 220.0);
    EXPECT_LE(hit.peak(250, TAIL_MS), hit.peak() / 100);
}

// Measured: each hit ends 61 ms later than a single one.
TEST_P(FluidSynthHit, ASecondPlayRestartsIt) {
    const Recording once = record(GetParam());
    const Recording twice = record(GetParam(), {60});

    EXPECT_LE(twice.peak(-LEAD_MS, 0), 1);
    EXPECT_NEAR(twice.endMs(), once.endMs() + 60.0, 10.0)
        << "the first play's note-off must not end the restarted hit";
}

INSTANTIATE_TEST_SUITE_P(FluidSynthEverySound, FluidSynthHit,
                         testing::Values(Sound::RIDE_BELL, Sound::COWBELL, Sound::HIGH_AGOGO,
                                         Sound::LOW_AGOGO, Sound::CLAVES, Sound::OPEN_TRIANGLE),
                         soundName);

// Sounds that die away by themselves show the restart as a fresh attack.
class FluidSynthSharpHit : public FluidSynthHit {};

// Measured peaks 5 ms before and after the second play: Cowbell 2552 -> 14043, High Agogo
// 3705 -> 11897, Low Agogo 4709 -> 13481, Claves 363 -> 22328.
TEST_P(FluidSynthSharpHit, ASecondPlayStartsAFreshAttack) {
    const Recording twice = record(GetParam(), {60});

    EXPECT_GT(twice.peak(60, 65), 2 * twice.peak(55, 60));
    EXPECT_GT(twice.peak(60, 65), twice.peak(0, 5) / 2);
}

INSTANTIATE_TEST_SUITE_P(FluidSynthDecayingSounds, FluidSynthSharpHit,
                         testing::Values(Sound::COWBELL, Sound::HIGH_AGOGO, Sound::LOW_AGOGO,
                                         Sound::CLAVES),
                         soundName);

// Sounds that would ring for seconds show that the note-off ends them.
class FluidSynthRingingHit : public FluidSynthHit {};

// Measured peaks 110..125 ms and 150..160 ms after the play: Ride Bell 1606 and 150, Triangle
// 4109 and 9.
TEST_P(FluidSynthRingingHit, SoundsUntilTheNoteOffAndFadesRightAfter) {
    const Recording hit = record(GetParam());

    EXPECT_GT(hit.peak(110, 125), hit.peak() / 5);
    EXPECT_LT(hit.peak(150, 160), hit.peak(110, 125) / 4);
}

INSTANTIATE_TEST_SUITE_P(FluidSynthRingingSounds, FluidSynthRingingHit,
                         testing::Values(Sound::RIDE_BELL, Sound::OPEN_TRIANGLE), soundName);

// Sets the soundfont property for one test and puts back what was there.
class SoundfontProperty {
  public:
    SoundfontProperty() : saved_(serialkit::SystemProperties::get(NAME)) {}
    ~SoundfontProperty() {
        serialkit::SystemProperties::clear(NAME);
        if (serialkit::SystemProperties::get(NAME) != saved_) {
            if (saved_)
                serialkit::SystemProperties::set(NAME, *saved_);
            else
                serialkit::SystemProperties::remove(NAME);
        }
    }
    SoundfontProperty(const SoundfontProperty&) = delete;
    SoundfontProperty& operator=(const SoundfontProperty&) = delete;

    void set(const QString& path) { serialkit::SystemProperties::set(NAME, path.toStdString()); }
    void unset() { serialkit::SystemProperties::remove(NAME); }

  private:
    static constexpr const char* NAME = FluidSynthOutput::SOUNDFONT_PROPERTY;
    std::optional<std::string> saved_;
};

std::string constructionFailure(const QString& rawFile) {
    try {
        SoundBot bot(ConfigHelper::getPercussionNumber(Sound::COWBELL),
                     FluidSynthOutput::toFile(rawFile));
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(FluidSynthOutput, ABadSoundfontFailsTheConstructionNamingIt) {
    QTemporaryDir dir;
    SoundfontProperty property;

    property.unset();
    EXPECT_EQ(FluidSynthOutput::soundfontPath(), FluidSynthOutput::DEFAULT_SOUNDFONT);

    const QString missing = dir.filePath("nowhere.sf2");
    property.set(missing);
    EXPECT_EQ(FluidSynthOutput::soundfontPath(), missing);
    std::string message = constructionFailure(dir.filePath("a.raw"));
    EXPECT_NE(message.find(missing.toStdString()), std::string::npos) << message;
    EXPECT_NE(message.find("missing or unreadable"), std::string::npos) << message;

    const QString garbage = dir.filePath("garbage.sf2");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF, but not a soundfont");
    file.close();
    property.set(garbage);
    message = constructionFailure(dir.filePath("b.raw"));
    EXPECT_NE(message.find(garbage.toStdString()), std::string::npos) << message;
    EXPECT_NE(message.find("missing or unreadable"), std::string::npos) << message;
}

TEST(FluidSynthOutput, RefusesSequencesItCannotPlay) {
    QTemporaryDir dir;
    auto output = FluidSynthOutput::toFile(dir.filePath("x.raw"));
    const MidiEvent good{0, 0x90, 9, 56, 127};
    const auto with = [&](MidiEvent event, int resolution = 4) {
        return MidiSequence{resolution, {good, event}};
    };

    EXPECT_NO_THROW(output->setSequence(with({1, 0x80, 9, 56, 127})));
    EXPECT_THROW(output->setSequence(with(good, 0)), std::invalid_argument);
    EXPECT_THROW(output->setSequence(with({1, 0xB0, 9, 7, 100})), std::invalid_argument);
    EXPECT_THROW(output->setSequence(with({1, 0x80, 16, 56, 127})), std::invalid_argument);
    EXPECT_THROW(output->setSequence(with({1, 0x80, -1, 56, 127})), std::invalid_argument);
    EXPECT_THROW(output->setSequence(with({1, 0x80, 9, 128, 127})), std::invalid_argument);
    EXPECT_THROW(output->setSequence(with({1, 0x80, 9, 56, -1})), std::invalid_argument);

    // The sound stage passes the refusal on, with nothing left open.
    EXPECT_THROW(SoundBot(128, FluidSynthOutput::toFile(dir.filePath("y.raw"))),
                 std::invalid_argument);
}

// There is usually no sound device on a build machine. Either the hit plays, or the failure says
// why; it must not hang, so it runs on a thread of its own that the test waits for.
TEST(FluidSynthOutput, TheAudioDeviceOpensOrSaysWhy) {
    // Nothing for a device that opened, else the runtime_error's message.
    auto result = std::make_shared<std::promise<std::optional<std::string>>>();
    std::future<std::optional<std::string>> outcome = result->get_future();
    std::thread([result] {
        try {
            SoundBot bot(ConfigHelper::getPercussionNumber(Sound::CLAVES),
                         FluidSynthOutput::audio());
            bot.play();
            bot.close();
            result->set_value(std::nullopt);
        } catch (const std::runtime_error& e) {
            result->set_value(std::string(e.what()));
        } catch (...) {
            result->set_exception(std::current_exception());
        }
    }).detach();

    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "opening the audio device hangs";
    const std::optional<std::string> failure = outcome.get();
    if (!failure)
        return;
    EXPECT_NE(failure->find("audio"), std::string::npos) << *failure;
    std::cout << "[   INFO   ] no sound: " << *failure << "\n";
}

}  // namespace
