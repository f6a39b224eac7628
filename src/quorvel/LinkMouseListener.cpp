#include "quorvel/LinkMouseListener.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include "quorvel/JLabelHtml.h"
#include "quorvel/LinkRunner.h"
#include "quorvel/OpenHyperlinkInBrowser.h"

namespace quorvel {

LinkMouseListener::LinkMouseListener(QObject* parent) : QObject(parent) {}

bool LinkMouseListener::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease) {
        return QObject::eventFilter(watched, event);
    }
    auto* label = qobject_cast<QLabel*>(watched);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (label == nullptr || mouse->button() != Qt::LeftButton ||
        !label->rect().contains(mouse->position().toPoint())) {
        return QObject::eventFilter(watched, event);
    }
    // A JLabelHtml shows a rewritten text; the link is in the text it was given.
    const auto* html = qobject_cast<JLabelHtml*>(label);
    const QString text = html != nullptr ? html->originalText() : label->text();
    if (!OpenHyperlinkInBrowser::containsHyperlink(text)) {
        return QObject::eventFilter(watched, event);
    }
    const QUrl address(OpenHyperlinkInBrowser::getPlainLink(text));
    if (address.isEmpty()) {
        LinkRunner::reportFailure();
    } else {
        LinkRunner(address).start();
    }
    return true;
}

}  // namespace quorvel
