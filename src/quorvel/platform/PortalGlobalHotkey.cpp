#include "quorvel/platform/PortalGlobalHotkey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <utility>

#include "quorvel/platform/PortalRequest.h"
#include "quorvel/util/Bundle.h"

namespace {

// One shortcut as BindShortcuts takes it: (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

const QString SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PATH = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SHORTCUTS = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString REQUEST = QStringLiteral("org.freedesktop.portal.Request");
const QString SESSION = QStringLiteral("org.freedesktop.portal.Session");
const QString SHORTCUT_ID = QStringLiteral("request-reading");
constexpr int CALL_TIMEOUT_MS = 5000;
// The desktop may ask the user to confirm the key.
constexpr int ANSWER_TIMEOUT_MS = 60000;

}  // namespace

namespace quorvel::platform {

bool PortalGlobalHotkey::offered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        SERVICE, PATH, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << SHORTCUTS << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, CALL_TIMEOUT_MS);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toUInt() >= 1;
}

QString PortalGlobalHotkey::trigger(const QString& chord) {
    QStringList parts = chord.split(u'+');
    const QString key = parts.takeLast();
    QStringList out;
    for (const QString& part : parts) {
        const QString m = part.toLower();
        if (m == u"ctrl" || m == u"control")
            out << QStringLiteral("CTRL");
        else if (m == u"alt")
            out << QStringLiteral("ALT");
        else if (m == u"shift")
            out << QStringLiteral("SHIFT");
        else
            out << QStringLiteral("LOGO");
    }
    static const std::pair<const char*, const char*> kNames[] = {{"space", "space"},
                                                                 {"pause", "Pause"},
                                                                 {"insert", "Insert"},
                                                                 {"home", "Home"},
                                                                 {"end", "End"},
                                                                 {"pageup", "Page_Up"},
                                                                 {"pagedown", "Page_Down"},
                                                                 {"scrolllock", "Scroll_Lock"}};
    QString name = key.size() == 1 ? key.toLower() : key.toUpper();
    for (const auto& [lower, x] : kNames) {
        if (key.compare(QLatin1String(lower), Qt::CaseInsensitive) == 0)
            name = QLatin1String(x);
    }
    out << name;
    return out.join(u'+');
}

PortalGlobalHotkey::PortalGlobalHotkey(const QString& chord, Activated activated)
    : activated_(std::move(activated)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    const QString notAvailable = util::Bundle::tolvane().getString("request.hotkey.not.available");
    QString error;
    QVariantMap results;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), portalToken("session"));
    if (!request(QStringLiteral("CreateSession"), {options}, results, error)) {
        reason_ = notAvailable + QStringLiteral(" (") + error + QStringLiteral(")");
        return;
    }
    session_ = portalPath(results.value(QStringLiteral("session_handle")));
    if (session_.isEmpty()) {
        reason_ = notAvailable;
        return;
    }
    QDBusConnection::sessionBus().connect(
        SERVICE, PATH, SHORTCUTS, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));

    PortalShortcut shortcut;
    shortcut.id = SHORTCUT_ID;
    shortcut.properties.insert(
        QStringLiteral("description"),
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestReadingButton.toolTipText"));
    shortcut.properties.insert(QStringLiteral("preferred_trigger"), trigger(chord));
    QList<PortalShortcut> shortcuts{shortcut};
    if (!request(QStringLiteral("BindShortcuts"),
                 {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts),
                  QString(), QVariantMap()},
                 results, error)) {
        reason_ = notAvailable + QStringLiteral(" (") + error + QStringLiteral(")");
        return;
    }
    // A desktop may answer without binding anything (KDE Plasma 5.27 does for a program it
    // knows no application id of); only a shortcut it lists is bound.
    QList<PortalShortcut> bound;
    const QVariant listed = results.value(QStringLiteral("shortcuts"));
    if (listed.canConvert<QDBusArgument>())
        listed.value<QDBusArgument>() >> bound;
    for (const PortalShortcut& s : bound) {
        if (s.id == SHORTCUT_ID)
            bound_ = true;
    }
    if (!bound_)
        reason_ = notAvailable;
}

PortalGlobalHotkey::~PortalGlobalHotkey() {
    if (session_.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(
        SERVICE, PATH, SHORTCUTS, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    QDBusMessage close =
        QDBusMessage::createMethodCall(SERVICE, session_, SESSION, QStringLiteral("Close"));
    QDBusConnection::sessionBus().call(close, QDBus::NoBlock);
}

void PortalGlobalHotkey::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                     const QVariantMap&) {
    if (bound_ && session.path() == session_ && id == SHORTCUT_ID && activated_)
        activated_();
}

bool PortalGlobalHotkey::request(const QString& method, QVariantList arguments,
                                 QVariantMap& results, QString& error) {
    const PortalAnswer answer =
        callPortal(SHORTCUTS, method, std::move(arguments), CALL_TIMEOUT_MS, ANSWER_TIMEOUT_MS);
    switch (answer.kind) {
        case PortalAnswer::Kind::CALL_FAILED:
            error = answer.error;
            return false;
        case PortalAnswer::Kind::NO_ANSWER:
            error = QStringLiteral("no answer from the desktop");
            return false;
        case PortalAnswer::Kind::ANSWERED:
            break;
    }
    if (answer.code != 0) {
        error = answer.code == 1 ? QStringLiteral("refused") : QStringLiteral("failed");
        return false;
    }
    results = answer.results;
    return true;
}

}  // namespace quorvel::platform
