#include "quorvel/platform/X11GlobalHotkey.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QMetaObject>
#include <QStringList>

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "quorvel/util/Bundle.h"

// Xlib's macros (Bool, Status) after Qt's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace quorvel::platform {

namespace {

// The display whose grab is being checked, and whether the server refused it. Set only for
// the moment of the check, on the user-interface thread.
std::mutex grabCheckMutex;
::Display* checkedDisplay = nullptr;
bool grabRefused = false;
XErrorHandler previousErrorHandler = nullptr;
thread_local bool inErrorHandler = false;

int onGrabError(::Display* display, XErrorEvent* error) {
    if (display == checkedDisplay) {
        if (error->error_code == BadAccess)
            grabRefused = true;
        return 0;
    }
    // Another connection's error goes where it went before; never back here.
    if (previousErrorHandler == nullptr || inErrorHandler)
        return 0;
    inErrorHandler = true;
    const int result = previousErrorHandler(display, error);
    inErrorHandler = false;
    return result;
}

void onConnectionLost(::Display*, void* data) {
    // Returning instead of exiting makes Xlib refuse every later request on this display.
    static_cast<std::atomic<bool>*>(data)->store(true);
}

// The modifier bit Num Lock sits on in this display's map, 0 when it has none.
unsigned int numLockMask(::Display* display) {
    unsigned int mask = 0;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr)
        return 0;
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    for (int modifier = 0; modifier < 8 && numLock != 0; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            if (map->modifiermap[modifier * map->max_keypermod + i] == numLock)
                mask = 1u << modifier;
        }
    }
    XFreeModifiermap(map);
    return mask;
}

}  // namespace

std::optional<X11GlobalHotkey::Chord> X11GlobalHotkey::parse(const QString& chord) {
    const QStringList parts = chord.split(u'+');
    if (chord.isEmpty() || parts.contains(QString()))
        return std::nullopt;
    Chord result;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString name = parts[i].toLower();
        if (name == u"ctrl" || name == u"control")
            result.modifiers |= ControlMask;
        else if (name == u"shift")
            result.modifiers |= ShiftMask;
        else if (name == u"alt")
            result.modifiers |= Mod1Mask;
        else if (name == u"meta" || name == u"super")
            result.modifiers |= Mod4Mask;
        else
            return std::nullopt;
    }
    QString key = parts.last();
    static const std::pair<const char*, const char*> kNames[] = {
        {"space", "space"},         {"pause", "Pause"},         {"insert", "Insert"},
        {"home", "Home"},           {"end", "End"},             {"pageup", "Page_Up"},
        {"pagedown", "Page_Down"},  {"scrolllock", "Scroll_Lock"}};
    QString xName;
    for (const auto& [name, x] : kNames) {
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            xName = QLatin1String(x);
    }
    if (xName.isEmpty()) {
        if (key.size() == 1 && key[0].isLetterOrNumber() && key[0].unicode() < 0x80)
            xName = key.toLower();  // the key's own keysym is the unshifted one
        else if (key.size() >= 2 && (key[0] == u'F' || key[0] == u'f'))
            xName = QStringLiteral("F") + key.mid(1);
        else
            return std::nullopt;
    }
    result.keysym = XStringToKeysym(xName.toLatin1().constData());
    if (result.keysym == NoSymbol)
        return std::nullopt;
    return result;
}

X11GlobalHotkey::X11GlobalHotkey(const QString& chord, Activated activated,
                                 const std::string& displayName)
    : activated_(std::move(activated)), receiver_(std::make_unique<QObject>()) {
    const std::optional<Chord> parsed = parse(chord);
    if (!parsed)
        throw std::runtime_error("\"" + chord.toStdString() + "\" is not a key chord");
    display_ = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (display_ == nullptr)
        throw std::runtime_error("No X display to grab the key on");
    XSetIOErrorExitHandler(display_, onConnectionLost, &lost_);
    root_ = DefaultRootWindow(display_);
    keycode_ = XKeysymToKeycode(display_, parsed->keysym);
    // Presses while the key is held come without releases in between, so a held key counts once.
    XkbSetDetectableAutoRepeat(display_, True, nullptr);

    if (keycode_ == 0) {
        reason_ = util::Bundle::tolvane().format("request.hotkey.no.key", {chord});
    } else {
        const unsigned int numLock = numLockMask(display_);
        std::vector<unsigned int> variants{0u, static_cast<unsigned int>(LockMask)};
        if (numLock != 0) {
            variants.push_back(numLock);
            variants.push_back(numLock | LockMask);
        }
        std::lock_guard lock(grabCheckMutex);
        checkedDisplay = display_;
        grabRefused = false;
        previousErrorHandler = XSetErrorHandler(onGrabError);
        for (const unsigned int extra : variants) {
            XGrabKey(display_, static_cast<int>(keycode_), parsed->modifiers | extra, root_, False,
                     GrabModeAsync, GrabModeAsync);
            grabbedModifiers_.push_back(parsed->modifiers | extra);
        }
        XSync(display_, False);
        XSetErrorHandler(previousErrorHandler);
        checkedDisplay = nullptr;
        if (grabRefused) {
            // Some of the variants may have been granted; none is kept.
            for (const unsigned int modifiers : grabbedModifiers_)
                XUngrabKey(display_, static_cast<int>(keycode_), modifiers, root_);
            XSync(display_, False);
            grabbedModifiers_.clear();
            reason_ = util::Bundle::tolvane().format("request.hotkey.taken", {chord});
        } else {
            grabbed_ = true;
        }
    }

    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        XCloseDisplay(display_);
        throw std::runtime_error("Cannot create a pipe for the key grab");
    }
    if (grabbed_)
        thread_ = std::thread([this] { run(); });
}

X11GlobalHotkey::~X11GlobalHotkey() {
    if (thread_.joinable()) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t ignored = ::write(wakePipe_[1], &stop, 1);
        thread_.join();
    }
    // Activations still queued die with their receiver.
    receiver_.reset();
    if (!lost_.load()) {
        for (const unsigned int modifiers : grabbedModifiers_)
            XUngrabKey(display_, static_cast<int>(keycode_), modifiers, root_);
        XSync(display_, False);
    }
    XCloseDisplay(display_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void X11GlobalHotkey::run() {
    bool down = false;
    while (!lost_.load()) {
        // Events already read off the connection first: poll would not see them.
        while (!lost_.load() && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.xkey.keycode != keycode_)
                continue;
            if (event.type == KeyRelease) {
                down = false;
            } else if (event.type == KeyPress && !down) {
                down = true;
                QMetaObject::invokeMethod(
                    receiver_.get(),
                    [this] {
                        if (activated_)
                            activated_();
                    },
                    Qt::QueuedConnection);
            }
        }
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
    }
}

}  // namespace quorvel::platform
