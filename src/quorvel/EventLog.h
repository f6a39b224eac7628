#pragma once

#include <QObject>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

#include <atomic>
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
    // A received line whose value is still to be typed (UI thread): as above, but the value
    // "default" until `valueTyped(id, ...)`. `id` comes from `nextValueId`.
    void appendQueuedDataLine(const worker::DataLine& line, quint64 id);
    quint64 nextValueId() { return ++lastValueId_; }
    // Any thread: the value of line `id` turns "typed", or "important" when it could not be
    // typed. A line no longer held is left alone.
    void valueTyped(quint64 id, bool typed);

    // Lines held now.
    int lineCount() const;

private:
    struct Span {
        QString text;
        Style style;
    };
    // The spans, and with `valueStyle` the style of the value found in the raw text.
    static std::vector<Span> dataLineSpans(const worker::DataLine& line, bool typed,
                                           Style valueStyle);
    void insert(const std::vector<Span>& spans);  // any thread
    // UI thread, spans already bounded; selects what was written of span `selected` when given.
    QTextCursor write(const std::vector<Span>& spans, int selected = -1);
    // The spans cut to the characters one line shows, with "… (N more)" for the rest.
    static std::vector<Span> bounded(const std::vector<Span>& spans);
    void trim();

    QTextEdit* view_;
    std::map<Style, QTextCharFormat> formats_;
    // The values waiting for their outcome; their selections follow the trimming of old lines.
    std::map<quint64, QTextCursor> queuedValues_;
    std::atomic<quint64> lastValueId_{0};
};

}  // namespace quorvel
