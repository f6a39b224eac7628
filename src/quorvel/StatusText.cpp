#include "quorvel/StatusText.h"

#include "quorvel/util/Bundle.h"
#include "quorvel/util/NetworkPorts.h"

namespace quorvel {

QString StatusText::connected() {
    state_ = State::CONNECTED;
    lines_ = 0;
    lostPort_.clear();
    return current();
}

QString StatusText::stopped() {
    if (state_ != State::LOST) {
        state_ = State::STOPPED;
    }
    return current();
}

QString StatusText::lineReceived(int number) {
    lines_ = number;
    return util::Bundle::tolvane().getString("line.count") + QString::number(number);
}

QString StatusText::deviceLost(const QString& port) {
    state_ = State::LOST;
    lostPort_ = port;
    return current();
}

QString StatusText::waitingForDevice(const QString& port) {
    state_ = State::WAITING;
    lostPort_ = port;
    return current();
}

QString StatusText::deviceBack() {
    state_ = State::CONNECTED;
    lostPort_.clear();
    return current();
}

QString StatusText::current() const {
    switch (state_) {
        case State::CONNECTED:
            if (lines_ > 0) {
                return util::Bundle::tolvane().getString("line.count") + QString::number(lines_);
            }
            return util::Bundle::tolvane().getString("switch.to.target.application");
        case State::LOST:
            return util::Bundle::tolvane().format("connection.to.0.lost", {lostPort_});
        case State::WAITING:
            return util::Bundle::tolvane().format(util::NetworkPorts::isNetworkName(lostPort_)
                                                      ? "waiting.for.server.0"
                                                      : "waiting.for.0",
                                                  {lostPort_});
        case State::STOPPED:
            break;
    }
    return util::Bundle::tolvane().getString("ZoviziDeZizFrame2.statusJLabel.text");
}

}  // namespace quorvel
