#include "quorvel/worker/Remover.h"

#include <utility>

namespace quorvel::worker {

Remover::Remover(const config::Config& settings) : Remover(settings.getRemoveCharacters()) {}

Remover::Remover(QString characters) : characters_(std::move(characters)) {}

QString Remover::remove(const QString& text) const {
    if (text.isNull() || text.isEmpty() || characters_.isEmpty())
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        if (!characters_.contains(c))
            out.append(c);
    // Everything removed is the empty text, not a missing one.
    if (out.isNull())
        out = QString("");
    return out;
}

}  // namespace quorvel::worker
