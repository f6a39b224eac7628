#include "quorvel/EventLog.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QMetaObject>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QTime>

#include <algorithm>

namespace quorvel {

namespace {

const QString kTimeFormat = QStringLiteral("HH:mm:ss");

// One log line shows at most this much; a runaway line (a wrong line-end setting, a flood of
// text in a message) would otherwise take the window minutes to lay out.
constexpr qsizetype kMaxShownCharacters = 1000;

QTextCharFormat makeFormat(const QColor& colour, bool bold) {
    QTextCharFormat format;
    format.setForeground(colour);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return format;
}

}  // namespace

EventLog::EventLog(QTextEdit* view, QObject* parent) : QObject(parent), view_(view) {
    formats_[Style::DEFAULT] = QTextCharFormat();
    formats_[Style::REGULAR] = makeFormat(Qt::black, false);
    formats_[Style::UNKNOWN] = makeFormat(QColor(0xd2, 0x69, 0x00), false);  // orange
    formats_[Style::IMPORTANT] = makeFormat(QColor(0xc0, 0x00, 0x00), true);
    formats_[Style::TYPED] = makeFormat(QColor(0x00, 0x64, 0x00), true);
    formats_[Style::IGNORED] = makeFormat(QColor(0x80, 0x80, 0x80), false);
    if (view_ != nullptr) {
        view_->setReadOnly(true);
        // An undo history of weeks of log lines would only grow.
        view_->setUndoRedoEnabled(false);
        view_->document()->setUndoRedoEnabled(false);
    }
}

QString EventLog::styleName(Style style) {
    switch (style) {
        case Style::DEFAULT:
            return QStringLiteral("default");
        case Style::REGULAR:
            return QStringLiteral("regular");
        case Style::UNKNOWN:
            return QStringLiteral("unknown");
        case Style::IMPORTANT:
            return QStringLiteral("important");
        case Style::TYPED:
            return QStringLiteral("typed");
        case Style::IGNORED:
            return QStringLiteral("ignored");
    }
    return QStringLiteral("default");
}

QTextCharFormat EventLog::format(Style style) const {
    const auto it = formats_.find(style);
    return it == formats_.end() ? QTextCharFormat() : it->second;
}

void EventLog::append(const QString& text, Style style) {
    // The time is taken here, when the event happens, not when the UI thread gets to it.
    insert({{QTime::currentTime().toString(kTimeFormat) + u' ' + text + u'\n', style}});
}

void EventLog::appendDataLine(const worker::DataLine& line, bool typed) {
    insert(dataLineSpans(line, typed, Style::TYPED));
}

void EventLog::appendQueuedDataLine(const worker::DataLine& line, quint64 id) {
    if (view_ == nullptr) {
        return;
    }
    // In the plain "default" style, which no other part of a received line has.
    const std::vector<Span> spans = bounded(dataLineSpans(line, true, Style::DEFAULT));
    int value = -1;
    for (int i = 0; i < static_cast<int>(spans.size()) && value < 0; ++i) {
        if (spans[i].style == Style::DEFAULT) {
            value = i;
        }
    }
    QTextCursor selection = write(spans, value);
    if (selection.hasSelection()) {
        // A value whose outcome never comes (its text dropped from the queue) is not kept
        // beyond the lines the log holds.
        if (queuedValues_.size() >= static_cast<std::size_t>(MAX_LINES)) {
            queuedValues_.erase(queuedValues_.begin());
        }
        queuedValues_[id] = selection;
    }
}

void EventLog::valueTyped(quint64 id, bool typed) {
    if (view_ == nullptr) {
        return;
    }
    if (QThread::currentThread() != view_->thread()) {
        QPointer<EventLog> self(this);
        QMetaObject::invokeMethod(
            view_,
            [self, id, typed]() {
                if (self) {
                    self->valueTyped(id, typed);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    const auto it = queuedValues_.find(id);
    if (it == queuedValues_.end()) {
        return;
    }
    // A trimmed line leaves an empty selection behind.
    if (it->second.hasSelection()) {
        it->second.setCharFormat(format(typed ? Style::TYPED : Style::IMPORTANT));
    }
    queuedValues_.erase(it);
}

std::vector<EventLog::Span> EventLog::dataLineSpans(const worker::DataLine& line, bool typed,
                                                    Style valueStyle) {
    const QString time = line.getDateTime().toString(kTimeFormat) + u' ';
    // Shown in readable form: control bytes as <code>, anything else literally.
    const QString raw = line.getRawData();
    const QString processed = worker::DataLine::transformControlChars(line.getProcessedData());

    if (processed.isEmpty() || !typed) {
        const QString remark = line.getRemark().isEmpty()
                                   ? QString()
                                   : QStringLiteral("  (") + line.getRemark() + u')';
        return {{time + raw + remark + u'\n', Style::IGNORED}};
    }

    QString value = processed;
    qsizetype at = raw.indexOf(value);
    if (at < 0) {
        value = QString(processed).replace(u',', u'.');
        at = raw.indexOf(value);
    }
    if (at < 0) {
        value = QString(processed).replace(u'.', u',');
        at = raw.indexOf(value);
    }
    // A "<" before the value means escaped control bytes (or markup) in front of it; the match
    // might then sit inside an escape, so the line is not highlighted.
    if (at < 0 || raw.left(at).contains(u'<')) {
        return {{time + raw + u'\n', Style::UNKNOWN}};
    }

    std::vector<Span> spans;
    spans.push_back({time, Style::REGULAR});
    if (at > 0) {
        spans.push_back({raw.left(at), Style::IGNORED});
    }
    spans.push_back({value, valueStyle});
    spans.push_back({raw.mid(at + value.size()) + u'\n', Style::IGNORED});
    return spans;
}

int EventLog::lineCount() const {
    if (view_ == nullptr) {
        return 0;
    }
    const QTextDocument* document = view_->document();
    // Every line ends with "\n", which leaves an empty block after the last one.
    const int blocks = document->blockCount();
    return document->lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

std::vector<EventLog::Span> EventLog::bounded(const std::vector<Span>& spans) {
    qsizetype total = 0;
    for (const Span& span : spans) {
        total += span.text.size();
    }
    // The closing line break does not count.
    const bool endsLine = !spans.empty() && spans.back().text.endsWith(u'\n');
    if (endsLine) {
        --total;
    }
    if (total <= kMaxShownCharacters) {
        return spans;
    }
    std::vector<Span> shown;
    qsizetype left = kMaxShownCharacters;
    for (const Span& span : spans) {
        if (left <= 0) {
            break;
        }
        qsizetype take = std::min(left, span.text.size());
        // Never half a surrogate pair.
        if (take < span.text.size() && take > 0 && span.text.at(take - 1).isHighSurrogate()) {
            --take;
        }
        shown.push_back({span.text.left(take), span.style});
        left -= take;
        if (take < span.text.size()) {
            break;
        }
    }
    qsizetype kept = 0;
    for (const Span& span : shown) {
        kept += span.text.size();
    }
    const Style tail = shown.empty() ? Style::DEFAULT : shown.back().style;
    shown.push_back({QStringLiteral("\u2026 (%1 more)").arg(total - kept) +
                         (endsLine ? QStringLiteral("\n") : QString()),
                     tail});
    return shown;
}

void EventLog::insert(const std::vector<Span>& unbounded) {
    if (view_ == nullptr) {
        return;
    }
    // Cut here, once, so a runaway line is not copied whole into the queue either.
    std::vector<Span> spans = bounded(unbounded);
    if (QThread::currentThread() != view_->thread()) {
        // Posted events of one thread are delivered in the order they were posted, so lines
        // keep their order; a log that is gone by then drops them.
        QPointer<EventLog> self(this);
        QMetaObject::invokeMethod(
            view_,
            [self, spans = std::move(spans)]() {
                if (self) {
                    self->write(spans);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    write(spans);
}

QTextCursor EventLog::write(const std::vector<Span>& spans, int selected) {
    QTextCursor cursor(view_->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    int start = -1;
    int end = -1;
    for (int i = 0; i < static_cast<int>(spans.size()); ++i) {
        if (i == selected) {
            start = cursor.position();
        }
        cursor.insertText(spans[i].text, format(spans[i].style));
        if (i == selected) {
            end = cursor.position();
        }
    }
    cursor.endEditBlock();
    // Made after the line is complete: a cursor at the end would move with text inserted there.
    QTextCursor selection(view_->document());
    if (start >= 0 && end > start) {
        selection.setPosition(start);
        selection.setPosition(end, QTextCursor::KeepAnchor);
    }
    trim();

    // Follow the newest line, but leave a selection the user is copying alone. Making the
    // cursor visible lays the new text out, so the scroll range is current.
    if (!view_->textCursor().hasSelection()) {
        view_->moveCursor(QTextCursor::End);
    }
    view_->ensureCursorVisible();
    if (QScrollBar* bar = view_->verticalScrollBar()) {
        bar->setValue(bar->maximum());
    }
    return selection;
}

void EventLog::trim() {
    QTextDocument* document = view_->document();
    const int excess = lineCount() - MAX_LINES;
    if (excess <= 0) {
        return;
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
    cursor.removeSelectedText();
}

}  // namespace quorvel
