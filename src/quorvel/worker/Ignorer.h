#pragma once

#include <optional>

#include "quorvel/config/Config.h"
#include "quorvel/util/BigDecimal.h"
#include "quorvel/worker/DataLine.h"

namespace quorvel::worker {

// Suppresses a value that repeats the previous one (exactly, or within a tolerance) within a
// time limit, by clearing the line's processed text. Used on the user-interface thread only.
class Ignorer {
public:
    explicit Ignorer(const config::Config& settings);
    // For trying settings out; prints "Ignorer constructor for testing purposes only!".
    Ignorer(int timeLimitMs, util::BigDecimal difference);

    // A null line raises std::invalid_argument("Argument for @NotNull parameter 'dataLine' of
    // quorvel/worker/Ignorer.process must not be null"). A non-numeric text with a non-zero
    // difference raises util::NumberFormatException from inTolerance (not caught here).
    void process(DataLine* dataLine);
    bool inTime(const DataLine& dataLine) const;
    bool inTolerance(const DataLine* dataLine) const;

    int getTimeLimit() const { return timeLimit_; }
    const util::BigDecimal& getDifference() const { return difference_; }
    const std::optional<DataLine>& getLastData() const { return lastData_; }

private:
    std::optional<DataLine> lastData_;
    int timeLimit_ = 0;
    util::BigDecimal difference_;
};

}  // namespace quorvel::worker
