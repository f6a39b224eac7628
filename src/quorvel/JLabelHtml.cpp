#include "quorvel/JLabelHtml.h"

#include <QLatin1String>

#include "quorvel/LinkMouseListener.h"
#include "quorvel/OpenHyperlinkInBrowser.h"

namespace quorvel {

namespace {

// Where nothing can be opened, a link drawn as a link would only invite useless clicks: each
// anchor becomes its plain text, followed by the address in brackets so it can still be typed.
QString withoutClickableLinks(const QString& text) {
    const QLatin1String aHref(OpenHyperlinkInBrowser::A_HREF);
    const QLatin1String hrefClosed(OpenHyperlinkInBrowser::HREF_CLOSED);
    const QLatin1String hrefEnd(OpenHyperlinkInBrowser::HREF_END);
    QString result = text;
    qsizetype from = 0;
    while (true) {
        const qsizetype start = result.indexOf(aHref, from);
        if (start < 0) {
            break;
        }
        const qsizetype addressStart = start + aHref.size();
        const qsizetype closed = result.indexOf(hrefClosed, addressStart);
        if (closed < 0) {
            break;
        }
        const qsizetype contentStart = closed + hrefClosed.size();
        const qsizetype end = result.indexOf(hrefEnd, contentStart);
        if (end < 0) {
            break;
        }
        const QString address = result.mid(addressStart, closed - addressStart);
        QString replacement = result.mid(contentStart, end - contentStart);
        if (!address.isEmpty() && replacement.trimmed() != address) {
            replacement += QStringLiteral(" (") + address + QStringLiteral(")");
        }
        result.replace(start, end + hrefEnd.size() - start, replacement);
        from = start + replacement.size();
    }
    return result;
}

}  // namespace

JLabelHtml::JLabelHtml(const QString& text, QWidget* parent) : QLabel(parent), original_(text) {
    applyLink();
}

void JLabelHtml::setText(const QString& text) {
    original_ = text;
    applyLink();
}

void JLabelHtml::applyLink() {
    // Start from a plain label each time: the previous text may have been a link.
    for (LinkMouseListener* old : findChildren<LinkMouseListener*>(Qt::FindDirectChildrenOnly)) {
        removeEventFilter(old);
        old->setParent(nullptr);
        old->deleteLater();
    }
    unsetCursor();
    setOpenExternalLinks(false);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setTextFormat(Qt::AutoText);

    const bool isLink = OpenHyperlinkInBrowser::containsHyperlink(original_);
    if (isLink && OpenHyperlinkInBrowser::isBrowsingSupported()) {
        QLabel::setText(original_);
        OpenHyperlinkInBrowser::makeLinkable(this, new LinkMouseListener);
    } else if (isLink) {
        QLabel::setText(withoutClickableLinks(original_));
    } else {
        QLabel::setText(original_);
    }
}

}  // namespace quorvel
