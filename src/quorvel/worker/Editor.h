#pragma once

#include <QString>

#include "quorvel/config/Config.h"

namespace quorvel::worker {

// Keeps or removes a number of characters at the start or the end of a text.
class Editor {
public:
    // Reads edit operation, position and count; an empty or unreadable count is 0 (off).
    explicit Editor(const config::Config& settings);
    Editor(config::ConfigHelper::EditOperation operation, config::ConfigHelper::EditPosition position,
           int numCharacters);

    // A null text stays null; count 0 or an empty text returns the text unchanged.
    QString process(const QString& text) const;
    int getNumCharacters() const { return numCharacters_; }

private:
    config::ConfigHelper::EditOperation operation_;
    config::ConfigHelper::EditPosition position_;
    int numCharacters_;
};

}  // namespace quorvel::worker
