#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvel::platform::test {

// A private Xvfb server on a free display for one test: started by the constructor, ready to
// accept connections when it returns, stopped by the destructor.
class XvfbServer {
  public:
    // Whether the Xvfb binary is on PATH; tests skip only when it is not.
    static bool available();

    // Throws std::runtime_error (with the server's own output) when it does not come up.
    // `extraArguments` go to Xvfb as they are, e.g. {"-extension", "XTEST"} to leave one out.
    explicit XvfbServer(const std::vector<std::string>& extraArguments = {});
    ~XvfbServer();

    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N"
    const std::string& displayName() const { return displayName_; }

    // Kills the server at once, as a crash would; its clients' connections break.
    void crash();

    // Runs setxkbmap on this display; throws std::runtime_error when it fails.
    void setKeyboardLayout(const std::string& layout, const std::string& variant = std::string());
    void useUsInternational() { setKeyboardLayout("us", "intl"); }
    void useUs() { setKeyboardLayout("us"); }

  private:
    void stop();
    std::string serverOutput() const;

    pid_t pid_ = -1;
    std::string displayName_;
    std::string logPath_;
};

}  // namespace quorvel::platform::test
