#include "quorvel/platform/PortalRequest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <atomic>

namespace quorvel::platform {

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PATH = QStringLiteral("/org/freedesktop/portal/desktop");
const QString REQUEST = QStringLiteral("org.freedesktop.portal.Request");
const QString RESPONSE = QStringLiteral("Response");

// Receives a Request object's Response signal on the thread that waits for it.
class ResponseWaiter : public QObject {
    Q_OBJECT
  public:
    bool answered = false;
    unsigned int code = 0;
    QVariantMap results;
    QEventLoop loop;

  public slots:
    void onResponse(uint response, const QVariantMap& values) {
        answered = true;
        code = response;
        results = values;
        loop.quit();
    }
};

}  // namespace

QString portalToken(const char* prefix) {
    static std::atomic<unsigned int> counter{0};
    return QStringLiteral("tolvane_%1_%2_%3")
        .arg(QLatin1String(prefix))
        .arg(QRandomGenerator::global()->generate())
        .arg(counter++);
}

QString portalPath(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

PortalAnswer callPortal(const QString& interface, const QString& method, QVariantList arguments,
                        int callTimeoutMs, int answerTimeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = portalToken("request");
    // The answer may come before the call returns: listen on the path the portal will use
    // before calling.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString handle =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    ResponseWaiter waiter;
    const char* slot = SLOT(onResponse(uint, QVariantMap));
    bus.connect(SERVICE, handle, REQUEST, RESPONSE, &waiter, slot);

    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    PortalAnswer answer;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus.disconnect(SERVICE, handle, REQUEST, RESPONSE, &waiter, slot);
        answer.kind = PortalAnswer::Kind::CALL_FAILED;
        answer.error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return answer;
    }
    const QString returned = portalPath(reply.arguments().value(0));
    if (!returned.isEmpty() && returned != handle && !waiter.answered) {
        // A portal older than handle tokens chose its own path.
        bus.disconnect(SERVICE, handle, REQUEST, RESPONSE, &waiter, slot);
        handle = returned;
        bus.connect(SERVICE, handle, REQUEST, RESPONSE, &waiter, slot);
    }
    if (!waiter.answered) {
        QTimer::singleShot(answerTimeoutMs, &waiter.loop, &QEventLoop::quit);
        waiter.loop.exec();
    }
    bus.disconnect(SERVICE, handle, REQUEST, RESPONSE, &waiter, slot);
    if (!waiter.answered) {
        // Take the question off the screen: nobody will act on its answer.
        bus.call(QDBusMessage::createMethodCall(SERVICE, handle, REQUEST, QStringLiteral("Close")),
                 QDBus::NoBlock);
        answer.kind = PortalAnswer::Kind::NO_ANSWER;
        return answer;
    }
    answer.kind = PortalAnswer::Kind::ANSWERED;
    answer.code = waiter.code;
    answer.results = waiter.results;
    return answer;
}

}  // namespace quorvel::platform

#include "PortalRequest.moc"
