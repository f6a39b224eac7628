#pragma once

#include <QObject>
#include <QString>
#include <QTextCharFormat>

#include <chrono>
#include <map>
#include <vector>

#include "quorvel/worker/DataLine.h"

class QTextEdit;

namespace quorvel {

// The event log: lines of "HH:mm:ss text" in named styles, always inserted as plain text with
// character formats (received bytes such as "<b>" show literally). Keeps the most recent
// MAX_LINES lines. `append` may be called from any thread; lines from other threads are
// delivered to the user-interface thread in order.
class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int MAX_LINES = 10000;
    // "default", "regular", "unknown", "important", "typed", "ignored".
    enum class Style { DEFAULT, REGULAR, UNKNOWN, IMPORTANT, TYPED, IGNORED };

    // Writes into `view` (read-only text edit owned by the window).
    explicit EventLog(QTextEdit* view, QObject* parent = nullptr);

    static QString styleName(Style style);
    QTextCharFormat format(Style style) const;

    // "HH:mm:ss " + text + "\n" with the current local time; any thread.
    void append(const QString& text, Style style);
    // A received line, timed by its terminator (UI thread): the whole raw text "ignored" when
    // the processed text is empty; "unknown" when the value is not found in the raw text or
    // the raw text before it contains "<"; else the time "regular", the text before the value
    // "ignored", the value as found "typed", the rest "ignored". The value is searched as is,
    // then with "," changed to ".", then "." changed to ",".
    // With `typed` false (nothing is typed any more) the whole line is "ignored".
    void appendDataLine(const worker::DataLine& line, bool typed = true);

    // Lines held now.
    int lineCount() const;

private:
    struct Span {
        QString text;
        Style style;
    };
    void insert(const std::vector<Span>& spans);  // any thread
    void write(const std::vector<Span>& spans);   // UI thread, spans already bounded
    // The spans cut to the characters one line shows, with "… (N more)" for the rest.
    static std::vector<Span> bounded(const std::vector<Span>& spans);
    void trim();

    QTextEdit* view_;
    std::map<Style, QTextCharFormat> formats_;
};

}  // namespace quorvel
