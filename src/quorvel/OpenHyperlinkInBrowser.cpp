#include "quorvel/OpenHyperlinkInBrowser.h"

#include <QLabel>
#include <QLatin1String>
#include <QUrl>

#include <mutex>
#include <utility>

#include "quorvel/LinkMouseListener.h"
#include "quorvel/QtMessagePresenter.h"
#include "quorvel/platform/Browser.h"

namespace quorvel {

namespace {

struct Services {
    std::mutex mutex;
    std::shared_ptr<platform::Browser> browser;
    std::shared_ptr<MessagePresenter> messages;
};

Services& services() {
    static Services s;
    return s;
}

// How the link part of a label is drawn; the whole label is clickable, so the link is made
// to look like one regardless of the style's palette.
const QLatin1String kLinkStyleOpen("<span style=\"color:#0b57d0; text-decoration:underline;\">");
const QLatin1String kLinkStyleClose("</span>");

}  // namespace

bool OpenHyperlinkInBrowser::containsHyperlink(const QString& text) {
    return text.contains(QLatin1String(HTML)) && text.contains(QLatin1String(HTML_END)) &&
           text.contains(QLatin1String(A_HREF)) && text.contains(QLatin1String(HREF_CLOSED));
}

QString OpenHyperlinkInBrowser::getPlainLink(const QString& text) {
    if (!containsHyperlink(text)) {
        return QString();
    }
    const QLatin1String aHref(A_HREF);
    const qsizetype start = text.indexOf(aHref) + aHref.size();
    const qsizetype end = text.indexOf(QLatin1String(HREF_CLOSED), start);
    if (end < 0) {
        return QString();
    }
    return text.mid(start, end - start);
}

QString OpenHyperlinkInBrowser::removeHtmlMarkup(const QString& text) {
    QString result = text;
    result.remove(QLatin1String(HTML));
    result.remove(QLatin1String(HTML_END));
    return result;
}

QString OpenHyperlinkInBrowser::removeLinkMarkup(const QString& text) {
    QString result = text;
    result.remove(QLatin1String(A_HREF));
    result.remove(QLatin1String(HREF_CLOSED));
    result.remove(QLatin1String(HREF_END));
    return result;
}

bool OpenHyperlinkInBrowser::isOpenableAddress(const QString& address) {
    const QUrl url(address.trimmed());
    if (address.trimmed().isEmpty() || !url.isValid() || url.isRelative()) {
        return false;
    }
    const QString scheme = url.scheme();
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
        scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) {
        // "http:/etc/passwd" has no host and is no web address.
        return !url.host().isEmpty();
    }
    if (scheme.compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0) {
        return !url.path().isEmpty();
    }
    return false;
}

bool OpenHyperlinkInBrowser::isBrowsingSupported() {
    return browser()->isBrowsingSupported();
}

void OpenHyperlinkInBrowser::makeLinkable(QLabel* label, LinkMouseListener* listener) {
    if (label == nullptr) {
        delete listener;
        return;
    }
    const QString text = label->text();
    if (!containsHyperlink(text)) {
        delete listener;
        return;
    }
    // The label never follows links itself: the listener decides what may be opened.
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setTextFormat(Qt::RichText);

    // The style goes inside the anchor so that the address (and getPlainLink of the shown
    // text) stays exactly as given.
    const QLatin1String hrefClosed(HREF_CLOSED);
    const qsizetype contentStart =
        text.indexOf(hrefClosed, text.indexOf(QLatin1String(A_HREF))) + hrefClosed.size();
    const qsizetype contentEnd = text.indexOf(QLatin1String(HREF_END), contentStart);
    if (contentStart >= hrefClosed.size() && contentEnd >= 0) {
        QString shown = text;
        shown.insert(contentEnd, kLinkStyleClose);
        shown.insert(contentStart, kLinkStyleOpen);
        label->setText(shown);
    }
    label->setCursor(Qt::PointingHandCursor);

    // One listener per label, or a click would open the address twice.
    const auto previous = label->findChildren<LinkMouseListener*>(Qt::FindDirectChildrenOnly);
    for (LinkMouseListener* old : previous) {
        if (old != listener) {
            // Later, in case it is the one handling the event that led here.
            label->removeEventFilter(old);
            old->setParent(nullptr);
            old->deleteLater();
        }
    }
    if (listener != nullptr) {
        listener->setParent(label);
        label->installEventFilter(listener);
    }
}

void OpenHyperlinkInBrowser::setServices(std::shared_ptr<platform::Browser> browser,
                                         std::shared_ptr<MessagePresenter> messages) {
    Services& s = services();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.browser = std::move(browser);
    s.messages = std::move(messages);
}

std::shared_ptr<platform::Browser> OpenHyperlinkInBrowser::browser() {
    Services& s = services();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.browser) {
        s.browser = std::make_shared<platform::DesktopBrowser>();
    }
    return s.browser;
}

std::shared_ptr<MessagePresenter> OpenHyperlinkInBrowser::messages() {
    Services& s = services();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.messages) {
        s.messages = std::make_shared<QtMessagePresenter>();
    }
    return s.messages;
}

}  // namespace quorvel
