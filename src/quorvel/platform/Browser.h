#pragma once

#include <QUrl>

#include <memory>
#include <mutex>
#include <vector>

namespace quorvel::platform {

// The desktop's web browser.
class Browser {
public:
    virtual ~Browser() = default;
    // Whether addresses can be opened at all here.
    virtual bool isBrowsingSupported() = 0;
    // Opens `address`; throws std::runtime_error when the desktop cannot. May be called from
    // any thread.
    virtual void browse(const QUrl& address) = 0;
};

// QDesktopServices (xdg-open on Linux).
class DesktopBrowser : public Browser {
public:
    bool isBrowsingSupported() override;
    void browse(const QUrl& address) override;
};

// Records the addresses; opens nothing. `fails` makes every browse throw.
class RecordingBrowser : public Browser {
public:
    explicit RecordingBrowser(bool supported = true, bool fails = false)
        : supported_(supported), fails_(fails) {}
    bool isBrowsingSupported() override { return supported_; }
    void browse(const QUrl& address) override;
    std::vector<QUrl> opened() const;

private:
    bool supported_;
    bool fails_;
    mutable std::mutex mutex_;
    std::vector<QUrl> opened_;
};

}  // namespace quorvel::platform
