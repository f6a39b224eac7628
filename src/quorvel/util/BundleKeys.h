#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace quorvel::util {

// The resource keys the program relies on, so that a missing text is found at start-up
// rather than in front of a user.
class BundleKeys {
public:
    struct Key {
        const char* bundle;  // base name, for example Bundle::TOLVANE
        const char* key;
    };

    static const std::vector<Key>& required();
    // "<bundle>: <key>" for every required key that its bundle lacks; empty when all are there.
    static QStringList missing();

    // Tests only: keys demanded on top of required(), so that a test can make one missing
    // without damaging the program's own resources. An empty list removes them again.
    static void setExtraKeysForTesting(std::vector<Key> keys);
};

}  // namespace quorvel::util
