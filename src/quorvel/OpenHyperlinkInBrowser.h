#pragma once

#include <QString>

#include <memory>

class QLabel;

namespace quorvel {

class MessagePresenter;
class LinkMouseListener;
namespace platform {
class Browser;
}

// Texts that carry one HTML link ("<html>... <a href="...">...</a> ...</html>"), labels that
// open it in the browser when clicked.
class OpenHyperlinkInBrowser {
public:
    static constexpr const char* HTML = "<html>";
    static constexpr const char* HTML_END = "</html>";
    static constexpr const char* A_HREF = "<a href=\"";
    static constexpr const char* HREF_CLOSED = "\">";
    static constexpr const char* HREF_END = "</a>";

    // All four of HTML, HTML_END, A_HREF and HREF_CLOSED are in the text.
    static bool containsHyperlink(const QString& text);
    // The address between the first A_HREF and the first HREF_CLOSED after it; "" for a text
    // that is no link text.
    static QString getPlainLink(const QString& text);
    static QString removeHtmlMarkup(const QString& text);
    static QString removeLinkMarkup(const QString& text);

    // Addresses that may be opened: http, https and mailto. Anything else (file:, custom
    // schemes) could start a local program.
    static bool isOpenableAddress(const QString& address);

    static bool isBrowsingSupported();
    // For a link text: shows it as a link, sets the hand cursor and installs `listener`
    // (the label takes ownership). Other texts stay as they are and `listener` is deleted.
    static void makeLinkable(QLabel* label, LinkMouseListener* listener);

    // The browser and the failure box used by every link; the desktop's and QMessageBox unless
    // set (tests set recording ones).
    static void setServices(std::shared_ptr<platform::Browser> browser,
                            std::shared_ptr<MessagePresenter> messages);
    static std::shared_ptr<platform::Browser> browser();
    static std::shared_ptr<MessagePresenter> messages();
};

}  // namespace quorvel
