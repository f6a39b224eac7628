// Link texts, the addresses that may be opened, and clicks on link labels with a recording
// browser and message boxes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

#include "quorvel/JLabelHtml.h"
#include "quorvel/LinkMouseListener.h"
#include "quorvel/LinkRunner.h"
#include "quorvel/OpenHyperlinkInBrowser.h"
#include "quorvel/platform/Browser.h"
#include "support/RecordingMessagePresenter.h"

namespace quorvel {
namespace {

using platform::RecordingBrowser;
using test::RecordingMessagePresenter;
using L = OpenHyperlinkInBrowser;

const QString kFailureTitle = QStringLiteral("A problem occured");
const QString kFailureMessage = QStringLiteral(
    "Sorry, a problem occurred while trying to open this link in your system's standard browser.");

// ---- recognition -------------------------------------------------------------------------

TEST(HyperlinkText, LinkTextNeedsAllFourMarkers) {
    const QString link =
        "<html>New version: <a href=\"https://example.com/get\">download</a></html>";
    EXPECT_TRUE(L::containsHyperlink(link));
    EXPECT_EQ(L::getPlainLink(link), "https://example.com/get");

    for (const QString& noLink : {
             QString("<a href=\"https://example.com\">download</a>"),               // no HTML
             QString("<html><a href=\"https://example.com\">download</a>"),         // no HTML_END
             QString("<html><a href=https://example.com>download</a></html>"),      // no quotes
             QString("<html><A HREF=\"https://example.com\">download</A></html>"),  // case
             QString("<html>Connected to COM3</html>"),
             QString(""),
         }) {
        EXPECT_FALSE(L::containsHyperlink(noLink)) << noLink.toStdString();
        EXPECT_EQ(L::getPlainLink(noLink), "") << noLink.toStdString();
    }
}

TEST(HyperlinkText, FirstLinkOfSeveralIsTheAddress) {
    EXPECT_EQ(L::getPlainLink("<html><a href=\"http://one.example\">1</a> or "
                              "<a href=\"http://two.example\">2</a></html>"),
              "http://one.example");
    // The address ends at the first closing quote after the opening marker.
    EXPECT_EQ(L::getPlainLink("<html><b class=\"x\">a</b><a href=\"mailto:a@b.example\">m</a>"
                              "</html>"),
              "mailto:a@b.example");
    EXPECT_EQ(L::getPlainLink("<html><a href=\"\">nothing</a></html>"), "");
    // A closing marker only before the opening one gives no address.
    EXPECT_EQ(L::getPlainLink("<html>\"> <a href=\"http://x.example</html>"), "");
}

TEST(HyperlinkText, MarkupRemoval) {
    const QString link = "<html>See <a href=\"http://x.example\">here</a>.</html>";
    EXPECT_EQ(L::removeHtmlMarkup(link), "See <a href=\"http://x.example\">here</a>.");
    EXPECT_EQ(L::removeLinkMarkup(link), "<html>See http://x.examplehere.</html>");
    EXPECT_EQ(L::removeLinkMarkup(L::removeHtmlMarkup(link)), "See http://x.examplehere.");
    EXPECT_EQ(L::removeHtmlMarkup("<html>a</html><html>b</html>"), "ab");
    EXPECT_EQ(L::removeHtmlMarkup("plain"), "plain");
}

TEST(HyperlinkText, OnlyWebAndMailAddressesAreOpenable) {
    for (const char* yes :
         {"http://example.com", "https://example.com/a?b=c#d", "HTTPS://EXAMPLE.COM",
          "mailto:support@example.com", "MailTo:support@example.com"}) {
        EXPECT_TRUE(L::isOpenableAddress(yes)) << yes;
    }
    for (const char* no :
         {"file:///etc/passwd", "file:C:/Windows/system32/calc.exe", "javascript:alert(1)",
          "custom-scheme:run", "ms-settings:display", "ftp://example.com", "example.com",
          "/usr/bin/xterm", "../index.html", "", "   ", "http:", "http:///etc/passwd", "mailto:"}) {
        EXPECT_FALSE(L::isOpenableAddress(no)) << no;
    }
}

TEST(HyperlinkText, RunnerRefusesAnEmptyAddress) {
    EXPECT_THROW(LinkRunner{QUrl()}, std::invalid_argument);
    EXPECT_EQ(LinkRunner(QUrl("https://example.com")).address(), QUrl("https://example.com"));
}

TEST(HyperlinkText, DesktopBrowsingNeedsARealDisplay) {
    // The tests draw offscreen unless told otherwise; there the desktop has no browser to use.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        GTEST_SKIP() << "platform " << QGuiApplication::platformName().toStdString();
    }
    EXPECT_FALSE(platform::DesktopBrowser().isBrowsingSupported());
}

// ---- clicks --------------------------------------------------------------------------------

class HyperlinkClickTest : public ::testing::Test {
  protected:
    void install(bool supported, bool fails) {
        browser_ = std::make_shared<RecordingBrowser>(supported, fails);
        messages_ = std::make_shared<RecordingMessagePresenter>();
        L::setServices(browser_, messages_);
    }

    void SetUp() override { install(true, false); }

    void TearDown() override {
        LinkRunner::waitForAll();
        settle();
        L::setServices(nullptr, nullptr);
    }

    static void send(QLabel& label, QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent event(type, QPointF(at), QPointF(label.mapToGlobal(at)), button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&label, &event);
    }

    static void click(QLabel& label, Qt::MouseButton button = Qt::LeftButton) {
        if (label.size().isEmpty() || !label.isVisible()) {
            label.resize(240, 30);
            label.show();
        }
        const QPoint centre = label.rect().center();
        send(label, QEvent::MouseButtonPress, button, centre);
        send(label, QEvent::MouseButtonRelease, button, centre);
    }

    // Waits for the background steps, then delivers what they queued for the UI thread.
    static void settle() {
        LinkRunner::waitForAll();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // For results that need the UI thread to catch up; generous, never a fixed sleep.
    static bool waitFor(const std::function<bool()>& condition) {
        LinkRunner::waitForAll();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    void expectOneFailureBox() {
        ASSERT_TRUE(waitFor([this] { return !messages_->boxes.empty(); }));
        settle();
        ASSERT_EQ(messages_->boxes.size(), 1u);
        EXPECT_EQ(messages_->boxes[0].kind, RecordingMessagePresenter::Kind::ERROR);
        EXPECT_EQ(messages_->boxes[0].title, kFailureTitle);
        EXPECT_EQ(messages_->boxes[0].message, kFailureMessage);
    }

    std::shared_ptr<RecordingBrowser> browser_;
    std::shared_ptr<RecordingMessagePresenter> messages_;
};

TEST_F(HyperlinkClickTest, ClickOnALinkLabelOpensItsAddress) {
    JLabelHtml label(
        "<html>Update available: <a href=\"https://example.com/tolvane\">get it</a>"
        "</html>");
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(label.openExternalLinks());
    EXPECT_EQ(label.textInteractionFlags(), Qt::NoTextInteraction);
    // Shown as a link, with the address unchanged.
    EXPECT_EQ(L::getPlainLink(label.text()), "https://example.com/tolvane");
    EXPECT_TRUE(label.text().contains("get it"));

    click(label);
    ASSERT_TRUE(waitFor([this] { return !browser_->opened().empty(); }));
    settle();
    EXPECT_THAT(browser_->opened(), ::testing::ElementsAre(QUrl("https://example.com/tolvane")));
    EXPECT_TRUE(messages_->boxes.empty());

    click(label);
    ASSERT_TRUE(waitFor([this] { return browser_->opened().size() == 2; }));
    settle();
    EXPECT_EQ(browser_->opened().size(), 2u);
    EXPECT_TRUE(messages_->boxes.empty());
}

TEST_F(HyperlinkClickTest, OnlyALeftClickOnALinkTextDoesAnything) {
    JLabelHtml plain("<html>Connected to COM3</html>");
    EXPECT_NE(plain.cursor().shape(), Qt::PointingHandCursor);
    click(plain);

    JLabelHtml link("<html><a href=\"https://example.com\">site</a></html>");
    click(link, Qt::RightButton);
    click(link, Qt::MiddleButton);
    // A release outside the label (the press was dragged away) is no click.
    link.resize(240, 30);
    link.show();
    send(link, QEvent::MouseButtonPress, Qt::LeftButton, link.rect().center());
    send(link, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(-5, -5));

    settle();
    EXPECT_TRUE(browser_->opened().empty());
    EXPECT_TRUE(messages_->boxes.empty());
}

TEST_F(HyperlinkClickTest, NewTextsPassThroughTheRecognitionAgain) {
    JLabelHtml label("Stopped");
    label.setText("<html><a href=\"http://first.example\">first</a></html>");
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    label.setText("<html><a href=\"http://second.example\">second</a></html>");
    EXPECT_EQ(label.originalText(), "<html><a href=\"http://second.example\">second</a></html>");
    click(label);
    // One listener only, and the new address.
    ASSERT_TRUE(waitFor([this] { return !browser_->opened().empty(); }));
    settle();
    EXPECT_THAT(browser_->opened(), ::testing::ElementsAre(QUrl("http://second.example")));

    label.setText("Stopped");
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(label.text(), "Stopped");
    click(label);
    settle();
    EXPECT_EQ(browser_->opened().size(), 1u);
    EXPECT_TRUE(messages_->boxes.empty());
}

TEST_F(HyperlinkClickTest, RejectedAddressShowsTheFailureBoxOnce) {
    install(true, true);
    JLabelHtml label("<html><a href=\"https://example.com/refused\">open</a></html>");
    click(label);
    expectOneFailureBox();
    EXPECT_THAT(browser_->opened(), ::testing::ElementsAre(QUrl("https://example.com/refused")));
}

TEST_F(HyperlinkClickTest, LocalAndCustomAddressesAreNeverOpened) {
    for (const char* address : {"file:///usr/bin/xterm", "custom-scheme:do-something",
                                "javascript:alert(1)", "relative/page.html", "http://"}) {
        SCOPED_TRACE(address);
        install(true, false);
        JLabelHtml label(QString("<html><a href=\"%1\">x</a></html>").arg(address));
        click(label);
        expectOneFailureBox();
        EXPECT_TRUE(browser_->opened().empty());
    }
}

TEST_F(HyperlinkClickTest, LinkWithoutAddressShowsTheFailureBox) {
    JLabelHtml label("<html><a href=\"\">nowhere</a></html>");
    click(label);
    expectOneFailureBox();
    EXPECT_TRUE(browser_->opened().empty());
}

TEST_F(HyperlinkClickTest, WithoutBrowsingNothingIsClickable) {
    install(false, false);
    EXPECT_FALSE(L::isBrowsingSupported());
    JLabelHtml label("<html>New version: <a href=\"https://example.com/get\">download</a></html>");
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(label.findChildren<LinkMouseListener*>().isEmpty());
    // Readable, no anchor left, the address still there to type.
    EXPECT_EQ(label.text(), "<html>New version: download (https://example.com/get)</html>");
    EXPECT_EQ(label.originalText(),
              "<html>New version: <a href=\"https://example.com/get\">download</a></html>");
    click(label);
    settle();
    EXPECT_TRUE(browser_->opened().empty());
    EXPECT_TRUE(messages_->boxes.empty());

    // An address shown as its own text is not repeated.
    label.setText(
        "<html>Mail <a href=\"mailto:a@b.example\">mailto:a@b.example</a> or "
        "<a href=\"https://b.example\">the site</a></html>");
    EXPECT_EQ(label.text(), "<html>Mail mailto:a@b.example or the site (https://b.example)</html>");
}

TEST_F(HyperlinkClickTest, AnyLabelCanBeMadeLinkable) {
    QLabel label("<html><a href=\"https://example.com/label\">label</a></html>");
    L::makeLinkable(&label, new LinkMouseListener);
    // Again (a new text on the same label): the old listener goes.
    L::makeLinkable(&label, new LinkMouseListener);
    EXPECT_EQ(label.findChildren<LinkMouseListener*>().size(), 1);
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    click(label);
    ASSERT_TRUE(waitFor([this] { return !browser_->opened().empty(); }));
    settle();
    EXPECT_THAT(browser_->opened(), ::testing::ElementsAre(QUrl("https://example.com/label")));

    QLabel plain("Just text");
    L::makeLinkable(&plain, new LinkMouseListener);
    EXPECT_EQ(plain.text(), "Just text");
    EXPECT_NE(plain.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(plain.findChildren<LinkMouseListener*>().isEmpty());
}

}  // namespace
}  // namespace quorvel
