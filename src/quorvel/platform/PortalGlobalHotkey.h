#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "quorvel/platform/GlobalHotkey.h"

namespace quorvel::platform {

// The chord bound through the desktop's GlobalShortcuts portal (a Wayland desktop that offers
// it, such as KDE Plasma): a session, the shortcut bound with the chord as its preferred trigger,
// and the portal's Activated signal. The desktop may let the user pick another key; whatever it
// binds counts. The session is closed with the object.
class PortalGlobalHotkey : public QObject, public GlobalHotkey {
    Q_OBJECT
public:
    // Whether the session bus has a portal with the GlobalShortcuts interface.
    static bool offered();
    // The chord in the portal's trigger notation: "Ctrl+Shift+F9" gives "CTRL+SHIFT+F9".
    static QString trigger(const QString& chord);

    // Creates the session and binds the chord, waiting (with the event loop running) for the
    // desktop's answers. Never throws: a refusal shows in available() and reason().
    PortalGlobalHotkey(const QString& chord, Activated activated);
    ~PortalGlobalHotkey() override;

    bool available() const override { return bound_; }
    QString reason() const override { return reason_; }

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    // A portal request and its Response; false with `error` set when it failed.
    bool request(const QString& method, QVariantList arguments, QVariantMap& results,
                 QString& error);

    Activated activated_;
    QString session_;
    bool bound_ = false;
    QString reason_;
};

}  // namespace quorvel::platform
