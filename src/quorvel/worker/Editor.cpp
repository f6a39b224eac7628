#include "quorvel/worker/Editor.h"

#include "quorvel/util/NumberFormatException.h"

namespace quorvel::worker {

using config::ConfigHelper;

namespace {

int numCharactersOf(const config::Config& settings) {
    if (settings.getEditNumCharacters().isEmpty())
        return 0;
    try {
        return settings.getEditNumCharactersAsInt();
    } catch (const util::NumberFormatException&) {
        return 0;  // an unreadable count switches editing off
    }
}

}  // namespace

Editor::Editor(const config::Config& settings)
    : Editor(settings.getEditOperation(), settings.getEditPosition(), numCharactersOf(settings)) {}

Editor::Editor(ConfigHelper::EditOperation operation, ConfigHelper::EditPosition position,
               int numCharacters)
    : operation_(operation), position_(position), numCharacters_(numCharacters) {}

QString Editor::process(const QString& text) const {
    if (text.isNull())
        return text;
    const qsizetype n = numCharacters_;
    const qsizetype len = text.size();
    if (n == 0 || len == 0)
        return text;
    // A negative count is treated like one longer than the text.
    const bool tooMany = n < 0 || n > len;

    switch (operation_) {
        case ConfigHelper::EditOperation::KEEP:
            if (tooMany)
                return text;
            switch (position_) {
                case ConfigHelper::EditPosition::FIRST:
                    return text.first(n);
                case ConfigHelper::EditPosition::LAST:
                    return text.last(n);
            }
            break;
        case ConfigHelper::EditOperation::REMOVE:
            switch (position_) {
                case ConfigHelper::EditPosition::FIRST:
                case ConfigHelper::EditPosition::LAST:
                    if (tooMany || n == len)
                        return QString("");
                    return position_ == ConfigHelper::EditPosition::FIRST ? text.sliced(n)
                                                                          : text.first(len - n);
            }
            break;
    }
    return text;  // an operation or position outside the known constants
}

}  // namespace quorvel::worker
