#include "quorvel/platform/Browser.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QString>

#include <stdexcept>
#include <string>

namespace quorvel::platform {

bool DesktopBrowser::isBrowsingSupported() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    // Without a real display there is no desktop session to hand the address to.
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void DesktopBrowser::browse(const QUrl& address) {
    if (!QDesktopServices::openUrl(address)) {
        throw std::runtime_error("The desktop could not open " + address.toString().toStdString());
    }
}

void RecordingBrowser::browse(const QUrl& address) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        opened_.push_back(address);
    }
    if (fails_) {
        throw std::runtime_error("Browser refused " + address.toString().toStdString());
    }
}

std::vector<QUrl> RecordingBrowser::opened() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

}  // namespace quorvel::platform
