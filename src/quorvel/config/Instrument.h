#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

#include "quorvel/config/ConfigHelper.h"

namespace quorvel::config {

class Config;

// What each instrument preset answers. One table row per preset; presets that behave "as"
// another ask that row.
class InstrumentPresets {
public:
    using Instrument = ConfigHelper::Instrument;
    using TestString = std::pair<QString, QString>;  // sample line, expected value ("" = none)

    // A new plain Config with the preset's serial defaults and input terminator.
    static Config getDefaultConfig(Instrument instrument);
    static QString getRegEx(Instrument instrument);
    static int getCaptureGroup(Instrument instrument);
    static ConfigHelper::InstrumentType getInstrumentType(Instrument instrument);
    static ConfigHelper::KeyMapType getKeyMapType(Instrument instrument);
    static QString getDataCommand(Instrument instrument);
    // The note's bundle key, or none.
    static std::optional<QString> getDefaultMessageKey(Instrument instrument);
    // The note's text from "quorvel.config.ConfigBundle", or none.
    static std::optional<QString> getDefaultMessage(Instrument instrument);
    static std::vector<TestString> getTestStrings(Instrument instrument);

    // A received line as text: every byte as the character with the same code (0..255).
    static QString textFromBytes(const QByteArray& bytes);
    // The first match of `pattern` anywhere in `line`, group `group`; none when nothing
    // matches; an empty text when the group did not take part. An invalid pattern gives none.
    static std::optional<QString> extract(const QString& pattern, int group, const QString& line);
    // The same with the preset's own pattern and group.
    static std::optional<QString> extract(Instrument instrument, const QString& line);
};

}  // namespace quorvel::config
