#pragma once

#include <QString>

#include "quorvel/config/Config.h"

namespace quorvel::worker {

// Deletes every character of a text that occurs in the set (compared exactly, per UTF-16 unit).
class Remover {
public:
    explicit Remover(const config::Config& settings);
    explicit Remover(QString characters);

    // A null text stays null; an empty set or empty text returns the text unchanged.
    QString remove(const QString& text) const;
    bool isEmpty() const { return characters_.isEmpty(); }

private:
    QString characters_;
};

}  // namespace quorvel::worker
