#pragma once

namespace quorvel::util {

// How long the update check may take. Each byte that arrives restarts the read time-out, so
// only the overall limit ends a server that answers in a trickle.
struct FetchLimits {
    int connectTimeoutMs = 5000;
    int readTimeoutMs = 5000;
    int overallTimeoutMs = 15000;
};

}  // namespace quorvel::util
