#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/platform/GlobalHotkey.h"

typedef struct _XDisplay Display;

namespace quorvel::platform {

// The chord grabbed on the X server's root window, on a connection of its own whose events are
// read on a thread of its own. The grab covers the chord with Caps Lock and Num Lock in either
// state. A chord another program holds already is reported through available() and reason(),
// and reading goes on without it. The grab ends with the object.
class X11GlobalHotkey : public GlobalHotkey {
public:
    struct Chord {
        unsigned int modifiers = 0;  // X modifier masks
        unsigned long keysym = 0;
    };
    // "Ctrl+Shift+F9" in X terms; none for a chord that is not one (see
    // ConfigHelper::RequestHotkey for what is).
    static std::optional<Chord> parse(const QString& chord);

    // Connects to `displayName` ($DISPLAY when empty) and grabs the chord. Throws
    // std::runtime_error when there is no display or the chord cannot be read.
    X11GlobalHotkey(const QString& chord, Activated activated,
                    const std::string& displayName = std::string());
    ~X11GlobalHotkey() override;
    X11GlobalHotkey(const X11GlobalHotkey&) = delete;
    X11GlobalHotkey& operator=(const X11GlobalHotkey&) = delete;

    bool available() const override { return grabbed_; }
    QString reason() const override { return reason_; }

private:
    void run();

    Display* display_ = nullptr;
    unsigned long root_ = 0;
    unsigned int keycode_ = 0;
    std::vector<unsigned int> grabbedModifiers_;
    bool grabbed_ = false;
    QString reason_;
    Activated activated_;
    // Lives on the user-interface thread; queued activations die with it.
    std::unique_ptr<QObject> receiver_;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> lost_{false};
    std::thread thread_;
};

}  // namespace quorvel::platform
