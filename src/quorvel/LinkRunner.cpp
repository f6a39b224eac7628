#include "quorvel/LinkRunner.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>

#include "quorvel/MessagePresenter.h"
#include "quorvel/OpenHyperlinkInBrowser.h"
#include "quorvel/platform/Browser.h"

namespace quorvel {

namespace {

// A pool of its own, so that waiting for the links never waits for anybody else's tasks.
// One opening at a time: the desktop's URL handler is not known to be safe from several threads.
QThreadPool& linkPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

void postFailure(std::shared_ptr<MessagePresenter> messages) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !messages) {
        std::cerr << "Could not open a link in the browser" << std::endl;
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [messages = std::move(messages)] {
            messages->error(nullptr, QStringLiteral("A problem occured"),
                            QStringLiteral("Sorry, a problem occurred while trying to open this "
                                           "link in your system's standard browser."));
        },
        Qt::QueuedConnection);
}

}  // namespace

LinkRunner::LinkRunner(QUrl address) : address_(std::move(address)) {
    if (address_.isEmpty()) {
        throw std::invalid_argument("A link runner needs an address");
    }
}

void LinkRunner::start() {
    // The services of the moment of the click, even if they are replaced while it runs.
    std::shared_ptr<platform::Browser> browser = OpenHyperlinkInBrowser::browser();
    std::shared_ptr<MessagePresenter> messages = OpenHyperlinkInBrowser::messages();
    const QUrl address = address_;
    linkPool().start([browser = std::move(browser), messages = std::move(messages), address] {
        bool opened = false;
        // Only web and mail addresses reach the browser: a file: or custom-scheme address in a
        // status text must never start a local program.
        if (address.isValid() && OpenHyperlinkInBrowser::isOpenableAddress(address.toString())) {
            try {
                browser->browse(address);
                opened = true;
            } catch (const std::exception&) {
            } catch (...) {
            }
        }
        if (!opened) {
            postFailure(messages);
        }
    });
}

void LinkRunner::waitForAll() {
    linkPool().waitForDone();
}

void LinkRunner::reportFailure() {
    postFailure(OpenHyperlinkInBrowser::messages());
}

}  // namespace quorvel
