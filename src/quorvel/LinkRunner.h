#pragma once

#include <QUrl>

namespace quorvel {

// Opens one address in the browser on a background thread; a failure (an address that is not
// valid, not http/https/mailto, or a browser that cannot start) shows "Sorry, a problem
// occurred while trying to open this link in your system's standard browser." titled
// "A problem occured" on the user-interface thread.
class LinkRunner {
public:
    // Throws std::invalid_argument for an empty address.
    explicit LinkRunner(QUrl address);
    // Returns at once.
    void start();

    const QUrl& address() const { return address_; }

    // Waits until every started runner has finished its background step (tests).
    static void waitForAll();
    // Queues the failure box on the user-interface thread; also for a link without an address,
    // which cannot become a runner.
    static void reportFailure();

private:
    QUrl address_;
};

}  // namespace quorvel
