#pragma once

#include <QLabel>

namespace quorvel {

// A label whose text may carry one link; where the desktop can browse, the link is clickable.
class JLabelHtml : public QLabel {
    Q_OBJECT
public:
    explicit JLabelHtml(const QString& text = QString(), QWidget* parent = nullptr);
    // Passes the new text through the link recognition again.
    void setText(const QString& text);
    // The text as given, before it was rewritten for display.
    const QString& originalText() const { return original_; }

private:
    void applyLink();
    QString original_;
};

}  // namespace quorvel
