#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/worker/SoundBot.h"

namespace {

using quorvel::config::ConfigHelper;
using quorvel::worker::MidiEvent;
using quorvel::worker::MidiSequence;
using quorvel::worker::SoundBot;
using quorvel::worker::SoundOutput;

// What the sound stage asked of its sequencer; outlives the sequencer, which the stage owns.
struct Calls {
    std::vector<std::string> names;
    std::vector<MidiSequence> sequences;
};

class RecordingOutput : public SoundOutput {
  public:
    explicit RecordingOutput(std::shared_ptr<Calls> calls) : calls_(std::move(calls)) {}

    bool failOpen = false;
    bool failSequence = false;

    void open() override {
        calls_->names.push_back("open");
        if (failOpen)
            throw std::runtime_error("no soundfont here");
    }
    void setSequence(const MidiSequence& sequence) override {
        calls_->names.push_back("setSequence");
        calls_->sequences.push_back(sequence);
        if (failSequence)
            throw std::invalid_argument("refused");
    }
    void setTickPosition(long tick) override {
        calls_->names.push_back("setTickPosition " + std::to_string(tick));
    }
    void start() override { calls_->names.push_back("start"); }
    void close() override { calls_->names.push_back("close"); }

  private:
    std::shared_ptr<Calls> calls_;
};

using Names = std::vector<std::string>;

bool operator==(const MidiEvent& a, const MidiEvent& b) {
    return a.tick == b.tick && a.status == b.status && a.channel == b.channel &&
           a.data1 == b.data1 && a.data2 == b.data2;
}

TEST(SoundBot, OpensTheSequencerAndGivesItOneHitOnThePercussionChannel) {
    for (auto sound : quorvel::config::Setting<ConfigHelper::Sound>::values()) {
        if (sound == ConfigHelper::Sound::NONE)
            continue;
        const int key = ConfigHelper::getPercussionNumber(sound);
        auto calls = std::make_shared<Calls>();
        SoundBot bot(key, std::make_unique<RecordingOutput>(calls));

        EXPECT_EQ(calls->names, (Names{"open", "setSequence"}));
        ASSERT_EQ(calls->sequences.size(), 1u);
        const MidiSequence& seq = calls->sequences[0];
        EXPECT_EQ(seq.resolution, 4);
        ASSERT_EQ(seq.events.size(), 2u) << "key " << key;
        EXPECT_TRUE(seq.events[0] == (MidiEvent{0, 0x90, 9, key, 127})) << "key " << key;
        EXPECT_TRUE(seq.events[1] == (MidiEvent{1, 0x80, 9, key, 127})) << "key " << key;
        EXPECT_EQ(bot.percussionNumber(), key);
    }
}

TEST(SoundBot, EveryPlayRewindsToTheStartThenStarts) {
    auto calls = std::make_shared<Calls>();
    SoundBot bot(56, std::make_unique<RecordingOutput>(calls));
    calls->names.clear();

    bot.play();
    bot.play();

    EXPECT_EQ(calls->names, (Names{"setTickPosition 0", "start", "setTickPosition 0", "start"}));
}

TEST(SoundBot, ClosesTheSequencerOnceAndThenPlaysNothing) {
    auto calls = std::make_shared<Calls>();
    {
        SoundBot bot(75, std::make_unique<RecordingOutput>(calls));
        calls->names.clear();
        bot.close();
        bot.close();
        bot.play();
    }
    EXPECT_EQ(calls->names, (Names{"close"}));

    calls->names.clear();
    { SoundBot bot(75, std::make_unique<RecordingOutput>(calls)); }
    EXPECT_EQ(calls->names, (Names{"open", "setSequence", "close"}));
}

TEST(SoundBot, AFailedOpenReachesTheCallerAndNothingElseIsAsked) {
    auto calls = std::make_shared<Calls>();
    auto output = std::make_unique<RecordingOutput>(calls);
    output->failOpen = true;

    try {
        SoundBot bot(56, std::move(output));
        FAIL() << "the construction succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no soundfont here");
    }
    EXPECT_EQ(calls->names, (Names{"open"}));
}

TEST(SoundBot, ARefusedSequenceReachesTheCallerAndClosesTheSequencer) {
    auto calls = std::make_shared<Calls>();
    auto output = std::make_unique<RecordingOutput>(calls);
    output->failSequence = true;

    EXPECT_THROW(SoundBot(56, std::move(output)), std::invalid_argument);
    EXPECT_EQ(calls->names, (Names{"open", "setSequence", "close"}));
}

}  // namespace
