#include "quorvel/util/ReadRemoteUpdate.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslConfiguration>
#include <QSslSocket>
#endif

#include <memory>
#include <optional>
#include <vector>

#include "quorvel/util/BigDecimal.h"
#include "quorvel/util/NumberFormatException.h"
#include "serialkit/IOException.h"

namespace quorvel::util {

namespace {

// How often a running fetch looks at the cancel flag.
constexpr int kCancelPollMs = 50;
// A version server has no business sending us round in circles.
constexpr int kMaxRedirects = 5;

std::optional<BigDecimal> decimalOf(const QString& text) {
    try {
        return BigDecimal::parse(text);
    } catch (const NumberFormatException&) {
        return std::nullopt;
    }
}

std::optional<qlonglong> integerOf(const QString& text) {
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

[[noreturn]] void fail(const QString& message) {
    throw serialkit::IOException(message.toStdString());
}

}  // namespace

ReadRemoteUpdate::ReadRemoteUpdate(const QString& url, const QString& currentVersion,
                                   const std::atomic<bool>* cancelled, FetchLimits limits)
    : content_(readURLContent(url, cancelled, limits)),
      remoteVersion_(findXML(content_, versionTag)),
      remoteReleaseDate_(findXML(content_, dateTag)),
      currentVersion_(currentVersion) {}

bool ReadRemoteUpdate::compareVersions(const QString& current, const QString& remote) {
    if (current.isEmpty() || remote.isEmpty() || current == remote)
        return false;
    if (remote.count(u'.') <= 1) {
        const auto a = decimalOf(current);
        const auto b = decimalOf(remote);
        return a && b && a->compareTo(*b) < 0;
    }
    if (current.count(u'.') <= 1)
        return true;
    // Every part must read as a number, even past the first difference: a half-readable
    // version is not trusted.
    const auto partsOf = [](const QString& version) -> std::optional<std::vector<qlonglong>> {
        std::vector<qlonglong> parts;
        for (const QString& part : version.split(u'.')) {
            const auto value = integerOf(part);
            if (!value)
                return std::nullopt;
            parts.push_back(*value);
        }
        return parts;
    };
    const auto a = partsOf(current);
    const auto b = partsOf(remote);
    if (!a || !b)
        return false;
    const std::size_t parts = std::min(a->size(), b->size());
    for (std::size_t i = 0; i < parts; ++i) {
        if ((*a)[i] != (*b)[i])
            return (*a)[i] < (*b)[i];
    }
    return false;
}

QString ReadRemoteUpdate::findXML(const QString& content, const QString& name) {
    const QString open = u'<' + name + u'>';
    const QString close = QStringLiteral("</") + name + u'>';
    const qsizetype start = content.indexOf(open);
    const qsizetype end = content.indexOf(close);
    if (start < 0 || end < 0)
        return QString();
    const qsizetype from = start + open.size();
    if (end < from)
        return QString();
    return content.mid(from, end - from);
}

QString ReadRemoteUpdate::readURLContent(const QString& url, const std::atomic<bool>* cancelled,
                                         FetchLimits limits) {
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        fail(QStringLiteral("Not a usable address: ") + url);

    QNetworkAccessManager manager;
    QNetworkRequest request(address);
    // Each redirect is checked below, so the scheme can never change on the way.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
#if QT_CONFIG(ssl)
    if (scheme == QLatin1String("https")) {
        // Stated rather than assumed: a certificate that does not verify ends the check.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
#endif

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    reply->setReadBufferSize(kMaxContentBytes + 1);

    QEventLoop loop;
    QByteArray body;
    std::optional<QString> failure;
    bool finished = false;

    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    // Not restarted by anything: the whole fetch, redirects included, ends by this time.
    QTimer overall;
    overall.setSingleShot(true);
    overall.setTimerType(Qt::PreciseTimer);

    const auto stop = [&](const QString& why) {
        if (finished)
            return;
        finished = true;
        failure = why;
        deadline.stop();
        overall.stop();
        reply->abort();
        loop.quit();
    };
    const auto drain = [&] {
        body += reply->read(kMaxContentBytes + 1 - body.size());
        if (body.size() > kMaxContentBytes)
            stop(QStringLiteral("The answer is larger than %1 bytes").arg(kMaxContentBytes));
    };

    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { stop(QStringLiteral("Timeout")); });
    QObject::connect(&overall, &QTimer::timeout, &loop, [&] { stop(QStringLiteral("Timeout")); });
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &loop,
                     [&] { deadline.start(limits.readTimeoutMs); });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        deadline.start(limits.readTimeoutMs);
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxContentBytes)
            stop(QStringLiteral("The answer is larger than %1 bytes").arg(kMaxContentBytes));
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (finished)
            return;
        deadline.start(limits.readTimeoutMs);
        drain();
    });
    QObject::connect(reply.get(), &QNetworkReply::redirected, &loop, [&](const QUrl& to) {
        const QUrl target = reply->url().resolved(to);
        if (target.scheme().compare(scheme, Qt::CaseInsensitive) != 0) {
            stop(QStringLiteral("Redirect to another scheme refused: ") + target.toString());
            return;
        }
        body.clear();
        // A new server may have to be reached.
        deadline.start(limits.connectTimeoutMs);
        emit reply->redirectAllowed();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
        if (finished)
            return;
        if (reply->error() != QNetworkReply::NoError) {
            stop(reply->errorString());
            return;
        }
        drain();
        if (finished)
            return;
        finished = true;
        deadline.stop();
        loop.quit();
    });
    QTimer cancelPoll;
    if (cancelled) {
        QObject::connect(&cancelPoll, &QTimer::timeout, &loop, [&] {
            if (cancelled->load())
                stop(QStringLiteral("Cancelled"));
        });
        cancelPoll.start(kCancelPollMs);
    }

    // Until the request is out, the time-out is the one for reaching the server.
    deadline.start(limits.connectTimeoutMs);
    overall.start(limits.overallTimeoutMs);
    if (cancelled && cancelled->load())
        stop(QStringLiteral("Cancelled"));
    if (!finished)
        loop.exec();
    cancelPoll.stop();
    deadline.stop();
    overall.stop();
    // Nothing of the reply may call back into this frame after it returns.
    QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
    if (failure)
        fail(*failure);
    return QString::fromUtf8(body);
}

}  // namespace quorvel::util
