#pragma once

#include <QString>

namespace quorvel {

// The status line's text for the state of reading, remembered so that a passing message (the
// update check's) can hand the line back to what fits the moment. Each change returns the text
// now due.
class StatusText {
  public:
    QString connected();
    // Reading has ended; after a lost device its text stays until the next connection.
    QString stopped();
    QString lineReceived(int number);
    QString deviceLost(const QString& port);
    // The device went away and the connection waits for it; once it is back, the connected
    // text with the lines counted so far.
    QString waitingForDevice(const QString& port);
    QString deviceBack();
    // What the line shows when nothing else has a say.
    QString current() const;

  private:
    enum class State { STOPPED, CONNECTED, LOST, WAITING };
    State state_ = State::STOPPED;
    int lines_ = 0;
    QString lostPort_;
};

}  // namespace quorvel
