#pragma once

#include <QDateTime>
#include <QString>

namespace quorvel::worker {

// Keeps a record of every received line and what became of its value.
class ValueRecorder {
  public:
    enum class Outcome {
        TYPED,      // its keys went out
        REPEAT,     // cleared by the ignore filter as a repeated value
        UNSTABLE,   // the instrument marked it as moving, so it was not typed
        NO_VALUE,   // nothing to type in the line
        FAILED,     // typing was tried and a key failed
        NOT_TYPED,  // it had a value, but reading had been stopped
    };

    struct Row {
        QDateTime instant;
        QString port;
        QString instrument;  // the instrument's display label
        int line = 0;
        QString received;  // the raw line in readable form
        QString value;     // the value as handed to typing; empty if none
        Outcome outcome = Outcome::NO_VALUE;
    };

    virtual ~ValueRecorder() = default;

    // Never throws: a record that cannot be kept must not stop reading.
    virtual void record(const Row& row) = 0;
};

}  // namespace quorvel::worker
