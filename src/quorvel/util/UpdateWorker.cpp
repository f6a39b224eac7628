#include "quorvel/util/UpdateWorker.h"

#include <QHostAddress>
#include <QUrl>

#include <chrono>
#include <exception>
#include <random>

#include "quorvel/util/Bundle.h"
#include "serialkit/IOException.h"
#include "serialkit/SystemProperties.h"

#ifndef TOLVANE_UPDATE_SERVER
#define TOLVANE_UPDATE_SERVER ""
#endif

namespace quorvel::util {

UpdateWorker::UpdateWorker(UpdateWorkerView& view, QString url, QString currentVersion,
                           FetchLimits limits)
    : view_(view),
      url_(std::move(url)),
      currentVersion_(std::move(currentVersion)),
      limits_(limits),
      receiver_(std::make_unique<QObject>()) {}

UpdateWorker::~UpdateWorker() {
    cancel();
    if (thread_)
        thread_->wait();
    // Queued calls to the receiver go with it.
    receiver_.reset();
}

void UpdateWorker::start() {
    if (started_)
        return;
    started_ = true;
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
}

void UpdateWorker::cancel() {
    cancelled_.store(true);
}

void UpdateWorker::post(const QString& status) {
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this, status] {
            if (!cancelled_.load())
                view_.setStatus(status);
        },
        Qt::QueuedConnection);
}

void UpdateWorker::run() {
    post(util::Bundle::tolvane().getString("checking.for.update"));
    try {
        result_ = std::make_unique<ReadRemoteUpdate>(url_, currentVersion_, &cancelled_, limits_);
    } catch (const serialkit::IOException&) {
        post(util::Bundle::tolvane().getString("update.check.failed"));
    } catch (const std::exception&) {
        // Whatever else goes wrong, the check simply did not happen.
        post(util::Bundle::tolvane().getString("update.check.failed"));
    }
    QMetaObject::invokeMethod(receiver_.get(), [this] { complete(); }, Qt::QueuedConnection);
}

void UpdateWorker::complete() {
    if (done_)
        return;
    done_ = true;
    thread_->wait();
    if (cancelled_.load())
        result_.reset();
    if (!result_)
        return;
    if (!ReadRemoteUpdate::compareVersions(currentVersion_, result_->getRemoteVersion())) {
        view_.showNormalStatus();
        return;
    }
    const QString page = downloadPage();
    if (page.isEmpty())
        view_.setStatus(util::Bundle::tolvane().getString("update.available.no.link"));
    else
        view_.setStatus(util::Bundle::tolvane().format("update.available", {page.toHtmlEscaped()}));
}

QString UpdateWorker::updateServer() {
    const auto overridden = serialkit::SystemProperties::get(kServerProperty);
    if (overridden && !overridden->empty())
        return QString::fromStdString(*overridden);
    return QStringLiteral(TOLVANE_UPDATE_SERVER);
}

QString UpdateWorker::serverAddress() {
    QString server = updateServer().trimmed();
    while (server.endsWith(u'/'))
        server.chop(1);
    if (server.isEmpty())
        return QString();
    const qsizetype schemeEnd = server.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return QStringLiteral("https://") + server;
    // Plain http only to this machine (a test server); anywhere else the answer must come
    // over TLS, whatever the property says.
    const QUrl given(server + QStringLiteral("/version.xml"));
    if (given.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0) {
        const QString host = given.host();
        const bool loopback = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
                              QHostAddress(host).isLoopback();
        if (!loopback)
            return QStringLiteral("https://") + server.mid(schemeEnd + 3);
    }
    return server;
}

QString UpdateWorker::defaultUrl() {
    const QString server = serverAddress();
    return server.isEmpty() ? QString() : server + QStringLiteral("/version.xml");
}

QString UpdateWorker::downloadPage() {
    const QString server = serverAddress();
    return server.isEmpty() ? QString() : server + u'/';
}

bool UpdateWorker::isCheckDue() {
    try {
        std::random_device device;
        return std::uniform_int_distribution<int>(0, 3)(device) == 0;
    } catch (const std::exception&) {
        // No random device: the clock still spreads the checks over the starts.
        std::mt19937 fallback(static_cast<std::mt19937::result_type>(
            std::chrono::steady_clock::now().time_since_epoch().count()));
        return std::uniform_int_distribution<int>(0, 3)(fallback) == 0;
    }
}

}  // namespace quorvel::util
