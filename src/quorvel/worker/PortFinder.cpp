#include "quorvel/worker/PortFinder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "quorvel/util/NetworkPorts.h"

namespace quorvel::worker {

namespace fs = std::filesystem;

namespace {

fs::path nodeOf(const QString& port) {
    const fs::path path(port.toStdString());
    return path.is_absolute() ? path : fs::path("/dev") / path;
}

// Empty when the path (or the end of its chain of links) does not exist.
fs::path resolved(const fs::path& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? fs::path() : real;
}

}  // namespace

QString PortFinder::defaultByIdFolder() {
    return QStringLiteral("/dev/serial/by-id");
}

PortFinder::PortFinder(QString port, QString byIdFolder)
    : port_(std::move(port)), network_(util::NetworkPorts::isNetworkName(port_)) {
    if (network_)
        return;
    const fs::path device = resolved(nodeOf(port_));
    if (device.empty() || byIdFolder.isEmpty())
        return;
    // Sorted, so that a device with several links always gets the same one.
    std::vector<fs::path> links;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(byIdFolder.toStdString()), ec), end; !ec && it != end;
         it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        if (resolved(link) == device) {
            byIdLink_ = QString::fromStdString(link.string());
            return;
        }
    }
}

std::optional<QString> PortFinder::whereNow() const {
    // A device server has no node to wait for: only opening it again tells whether it is back.
    if (network_)
        return port_;
    if (!byIdLink_.isEmpty()) {
        const fs::path target = resolved(fs::path(byIdLink_.toStdString()));
        if (target.empty())
            return std::nullopt;
        return QString::fromStdString(target.string());
    }
    std::error_code ec;
    if (fs::exists(nodeOf(port_), ec))
        return port_;
    return std::nullopt;
}

}  // namespace quorvel::worker
