#pragma once

#include <cstddef>
#include <string>

#include <termios.h>

namespace testsupport {

// A raw pseudo-terminal pair; the test plays the instrument on the master side and the port
// under test opens slavePath() by name.
//
// The fixture keeps one slave descriptor of its own open until releaseSlave() or destruction.
// That keeps the line alive while the port under test is closed: bytes written to the master
// before the port opens wait in the slave's input queue and are read by the port once it opens
// (unless the port flushes its input), and reading the master never fails with EIO just
// because no slave is open. The fixture's slave descriptor takes no lock, so it does not
// disturb exclusive opens. closeMaster() hangs up every slave descriptor, which is how a test
// shows device loss.
class Pty {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be created.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // -1 after closeMaster().
    int masterFd() const { return master_; }

    // Writes all bytes to the master; waits while the line is full, throws std::runtime_error
    // when nothing moves for 10 s or the master is closed.
    void write(const std::string& bytes);
    // Up to count bytes from the master, waiting up to timeoutMs overall; returns early once
    // count bytes have arrived.
    std::string read(size_t count, int timeoutMs);
    // Bytes written to the master that no one has read from the slave yet; asked through the
    // fixture's own slave descriptor, which an exclusive open by the port does not shut out.
    int unreadBytes() const;
    // The line settings as the port under test left them (through the fixture's own slave).
    termios lineSettings() const;
    // The far end goes away (device loss).
    void closeMaster();
    // Drops the fixture's own slave descriptor; then the master sees EIO while no one has the
    // slave open, as with a plain openpty pair.
    void releaseSlave();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace testsupport
