#include "quorvel/TraySupport.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QStyle>

#include "quorvel/util/Bundle.h"

namespace quorvel {

namespace {

const char* const trayText = "Tolvane";

// The tray's icon width once it is on screen, else the style's size for small icons (what
// the desktop's trays use).
int trayIconWidth(const QSystemTrayIcon* icon, const QWidget* window) {
    if (icon != nullptr && icon->geometry().width() > 0) {
        return icon->geometry().width();
    }
    const QStyle* style = window != nullptr ? window->style() : QApplication::style();
    return style != nullptr ? style->pixelMetric(QStyle::PM_SmallIconSize) : 16;
}

// The icon may be the sender of the signal being handled, so it is deleted later.
void dropIcon(std::unique_ptr<QSystemTrayIcon>& icon) {
    if (icon) {
        icon->hide();
        icon.release()->deleteLater();
    }
}

}  // namespace

TraySupport::TraySupport(QMainWindow* window, std::function<bool()> notify,
                         std::function<bool()> trayAvailable)
    : window_(window), notify_(std::move(notify)), trayAvailable_(std::move(trayAvailable)) {}

// The window may be gone already; Qt drops a destroyed event filter by itself.
TraySupport::~TraySupport() = default;

QString TraySupport::imageForWidth(int width) {
    if (width <= 16) {
        return QStringLiteral(":/tolvane16.png");
    }
    if (width <= 20) {
        return QStringLiteral(":/tolvane20.png");
    }
    if (width <= 24) {
        return QStringLiteral(":/tolvane24.png");
    }
    return QStringLiteral(":/tolvane32.png");
}

void TraySupport::addMinimizeToTraySupport() {
    if (installed_ || window_ == nullptr || !trayAvailable_ || !trayAvailable_()) {
        return;  // no tray on this desktop: minimizing stays the desktop's own
    }
    window_->installEventFilter(this);
    installed_ = true;
}

void TraySupport::removeMinimizeToTraySupport() {
    if (!installed_) {
        return;
    }
    window_->removeEventFilter(this);
    installed_ = false;
    if (trayIcon_) {
        showWindow();  // hidden behind the icon: it must not stay out of reach
    }
}

bool TraySupport::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::WindowStateChange) {
        windowStateChanged();
    }
    return QObject::eventFilter(watched, event);
}

void TraySupport::windowStateChanged() {
    if (!installed_ || window_ == nullptr) {
        return;
    }
    // Both the filter and the window may report one change; the second report finds the work
    // done already.
    if (window_->windowState() & Qt::WindowMinimized) {
        if (trayIcon_) {
            return;
        }
        trayIcon_ = std::make_unique<QSystemTrayIcon>();
        trayIcon_->setIcon(QIcon(imageForWidth(trayIconWidth(nullptr, window_))));
        trayIcon_->setToolTip(QString::fromLatin1(trayText));
        connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // Trays of the StatusNotifier kind report only single clicks.
                    if (reason == QSystemTrayIcon::DoubleClick ||
                        reason == QSystemTrayIcon::Trigger) {
                        showWindow();
                    }
                });
        trayIcon_->show();
        // Now that the tray has placed the icon its real width is known.
        const QString image = imageForWidth(trayIconWidth(trayIcon_.get(), window_));
        if (image != imageForWidth(trayIconWidth(nullptr, window_))) {
            trayIcon_->setIcon(QIcon(image));
        }
        window_->hide();
        if (notify_ && notify_()) {
            trayIcon_->showMessage(QString::fromLatin1(trayText),
                                   util::Bundle::tolvane().getString("minimized.to.system.tray"),
                                   QSystemTrayIcon::Information);
        }
    } else if (trayIcon_) {
        dropIcon(trayIcon_);
        window_->show();
    }
}

void TraySupport::showWindow() {
    dropIcon(trayIcon_);
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace quorvel
