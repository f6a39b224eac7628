#include "quorvel/platform/PortalKeyInjector.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "quorvel/platform/PortalRequest.h"
#include "quorvel/platform/X11KeyInjector.h"

namespace quorvel::platform {

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PATH = QStringLiteral("/org/freedesktop/portal/desktop");
const QString REMOTE_DESKTOP = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString REQUEST = QStringLiteral("org.freedesktop.portal.Request");
const QString SESSION = QStringLiteral("org.freedesktop.portal.Session");

constexpr unsigned int KEYBOARD = 1;
// Permissions kept until the user withdraws them.
constexpr unsigned int PERSIST_UNTIL_REVOKED = 2;
constexpr unsigned int RESPONSE_CANCELLED = 1;
// Short calls; only the answers to requests wait for the user.
constexpr int CALL_TIMEOUT_MS = 10000;

constexpr unsigned long XK_RETURN = 0xff0d;
constexpr unsigned long XK_TAB = 0xff09;

const char* const NOTHING_TYPED = " Nothing will be typed.";

[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// `problem` says what is wrong with the portal, as a sentence.
QString noPortal(const QString& problem) {
    return problem +
           QStringLiteral(
               " Keys cannot reach the windows of this Wayland session. Install the desktop's "
               "portal (xdg-desktop-portal with xdg-desktop-portal-gnome or "
               "xdg-desktop-portal-kde), or log in to a session on Xorg.");
}

QString unreachable(const QString& detail) {
    return noPortal(QStringLiteral("The desktop's remote desktop portal "
                                   "(org.freedesktop.portal.RemoteDesktop) does not answer: %1.")
                        .arg(detail));
}

QVariant property(const QString& name, QString& error) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        SERVICE, PATH, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << REMOTE_DESKTOP << name;
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(get, QDBus::Block, CALL_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return {};
    }
    return reply.arguments().first().value<QDBusVariant>().variant();
}

}  // namespace

PortalKeyInjector::PortalKeyInjector(const QString& restoreToken, int answerTimeoutMs)
    : answerTimeoutMs_(answerTimeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        fail(noPortal(QStringLiteral("There is no session bus.")));
    QString error;
    const QVariant version = property(QStringLiteral("version"), error);
    if (!version.isValid())
        fail(unreachable(error));
    version_ = version.toUInt();
    const QVariant devices = property(QStringLiteral("AvailableDeviceTypes"), error);
    if (devices.isValid() && (devices.toUInt() & KEYBOARD) == 0)
        fail(noPortal(QStringLiteral("The desktop's remote desktop portal offers no keyboard.")));

    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), portalToken("session"));
    const QVariantMap created =
        request(QStringLiteral("CreateSession"), {options}, "create a session");
    session_ = portalPath(created.value(QStringLiteral("session_handle")));
    if (session_.isEmpty())
        fail(QStringLiteral("The remote desktop portal created no session.") + NOTHING_TYPED);

    try {
        QVariantMap select;
        select.insert(QStringLiteral("types"), KEYBOARD);
        if (version_ >= 2) {
            select.insert(QStringLiteral("persist_mode"), PERSIST_UNTIL_REVOKED);
            if (!restoreToken.isEmpty())
                select.insert(QStringLiteral("restore_token"), restoreToken);
        }
        const QVariant session = QVariant::fromValue(QDBusObjectPath(session_));
        request(QStringLiteral("SelectDevices"), {session, select}, "select the keyboard");
        const QVariantMap started =
            request(QStringLiteral("Start"), {session, QString(), QVariantMap()}, "start");
        const QVariant granted = started.value(QStringLiteral("devices"));
        if (granted.isValid() && (granted.toUInt() & KEYBOARD) == 0)
            fail(QStringLiteral("The desktop allowed remote interaction without the keyboard.") +
                 NOTHING_TYPED);
        restoreToken_ = started.value(QStringLiteral("restore_token")).toString();
    } catch (...) {
        QDBusMessage close =
            QDBusMessage::createMethodCall(SERVICE, session_, SESSION, QStringLiteral("Close"));
        QDBusConnection::sessionBus().call(close, QDBus::Block, CALL_TIMEOUT_MS);
        throw;
    }
}

PortalKeyInjector::~PortalKeyInjector() {
    QDBusMessage close =
        QDBusMessage::createMethodCall(SERVICE, session_, SESSION, QStringLiteral("Close"));
    QDBusConnection::sessionBus().call(close, QDBus::Block, CALL_TIMEOUT_MS);
}

QVariantMap PortalKeyInjector::request(const QString& method, QVariantList arguments,
                                       const char* step) {
    const PortalAnswer answer =
        callPortal(REMOTE_DESKTOP, method, std::move(arguments), CALL_TIMEOUT_MS, answerTimeoutMs_);
    if (answer.kind == PortalAnswer::Kind::CALL_FAILED)
        fail(unreachable(answer.error));
    if (answer.kind == PortalAnswer::Kind::NO_ANSWER)
        fail(QStringLiteral("The desktop did not answer the request for remote interaction "
                            "(%1) within %2 seconds.")
                 .arg(QLatin1String(step))
                 .arg(answerTimeoutMs_ / 1000) +
             NOTHING_TYPED);
    if (answer.code == RESPONSE_CANCELLED)
        fail(QStringLiteral("The desktop refused remote interaction.") + NOTHING_TYPED +
             QStringLiteral(" Start again and allow remote interaction when the desktop asks."));
    if (answer.code != 0)
        fail(QStringLiteral("The desktop ended the request for remote interaction (%1): the "
                            "dialog was closed or the portal failed.")
                 .arg(QLatin1String(step)) +
             NOTHING_TYPED);
    return answer.results;
}

void PortalKeyInjector::sendKeysym(unsigned long keysym, bool press) {
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, REMOTE_DESKTOP,
                                                       QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap()
         << static_cast<int>(keysym) << static_cast<uint>(press ? 1 : 0);
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, CALL_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage)
        fail(QStringLiteral("The remote desktop portal did not take a key: %1")
                 .arg(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()));
}

void PortalKeyInjector::keyPress(int keyCode) {
    const unsigned long keysym = X11KeyInjector::keysymFor(keyCode);
    if (keysym == 0)
        throw std::invalid_argument("no key for key code " + std::to_string(keyCode));
    sendKeysym(keysym, true);
}

void PortalKeyInjector::keyRelease(int keyCode) {
    const unsigned long keysym = X11KeyInjector::keysymFor(keyCode);
    if (keysym == 0)
        throw std::invalid_argument("no key for key code " + std::to_string(keyCode));
    sendKeysym(keysym, false);
}

void PortalKeyInjector::delay(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool PortalKeyInjector::isCapsLockOn() {
    return false;
}

bool PortalKeyInjector::typesCharacters() const {
    return true;
}

bool PortalKeyInjector::typeCharacter(char32_t character, int keyDelayMs) {
    unsigned long keysym = 0;
    if (character == U'\n' || character == U'\r')
        keysym = XK_RETURN;
    else if (character == U'\t')
        keysym = XK_TAB;
    else if ((character >= 0x20 && character <= 0x7E) || (character >= 0xA0 && character <= 0xFF))
        keysym = character;
    else if (character > 0xFF && character <= 0x10FFFF &&
             !(character >= 0xD800 && character <= 0xDFFF))
        keysym = 0x01000000ul | character;
    else
        return false;
    sendKeysym(keysym, true);
    delay(keyDelayMs);
    sendKeysym(keysym, false);
    delay(keyDelayMs);
    return true;
}

QString PortalKeyInjector::restoreToken() const {
    return restoreToken_;
}

}  // namespace quorvel::platform
