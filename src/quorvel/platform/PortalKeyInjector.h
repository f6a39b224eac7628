#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Keystrokes through the desktop's RemoteDesktop portal (xdg-desktop-portal) on the session bus:
// the way GNOME and KDE Plasma on Wayland let an ordinary application type into other
// applications' windows. One portal session, with the keyboard only, lives as long as the
// object; keys are sent as keysyms, so the desktop works out the key and shift level on its own
// keyboard map.
class PortalKeyInjector : public worker::KeyInjector {
  public:
    // Creates and starts the session; the desktop may ask the user first. Waits for the answer
    // in a nested event loop on the calling thread (the user-interface thread, so the window
    // keeps being drawn), at most `answerTimeoutMs`. `restoreToken` is the token a previous
    // session handed out, when the portal keeps permissions (interface version 2 or later).
    // Throws std::runtime_error with a message for the user when there is no portal, the user
    // refused or closed the dialog, or no answer came.
    explicit PortalKeyInjector(const QString& restoreToken = QString(),
                               int answerTimeoutMs = 180000);
    // Closes the session.
    ~PortalKeyInjector() override;

    PortalKeyInjector(const PortalKeyInjector&) = delete;
    PortalKeyInjector& operator=(const PortalKeyInjector&) = delete;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // The portal does not tell; the desktop applies its own lock state to keysyms anyway.
    bool isCapsLockOn() override;

    bool typesCharacters() const override;
    bool typeCharacter(char32_t character, int keyDelayMs) override;

    // The token that lets the next start skip the question, empty when the portal gave none.
    QString restoreToken() const;
    // The portal interface's version (persistence needs 2).
    unsigned int portalVersion() const { return version_; }

  private:
    // Calls a portal method that answers through a Request object and waits for the answer;
    // throws unless the user agreed.
    QVariantMap request(const QString& method, QVariantList arguments, const char* step);
    void sendKeysym(unsigned long keysym, bool press);

    QString session_;
    QString restoreToken_;
    unsigned int version_ = 1;
    int answerTimeoutMs_;
};

}  // namespace quorvel::platform
