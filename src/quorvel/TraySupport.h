#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QMainWindow;

namespace quorvel {

// Minimize to the system tray: while installed, iconifying the window hides it behind a tray
// icon (tooltip "Tolvane"), optionally with a notice; a double click or the window becoming
// normal again shows it. Where the desktop has no tray, nothing is installed and minimizing
// works as usual.
class TraySupport : public QObject {
    Q_OBJECT
public:
    // `notify` says, at the moment of minimizing, whether to show the notice.
    TraySupport(QMainWindow* window, std::function<bool()> notify,
                std::function<bool()> trayAvailable);
    ~TraySupport() override;

    // The image for a tray of the given icon width: up to 16 the 16-pixel image, up to 20 the
    // 20-pixel, up to 24 the 24-pixel, else the 32-pixel one.
    static QString imageForWidth(int width);

    void addMinimizeToTraySupport();
    void removeMinimizeToTraySupport();
    bool isInstalled() const { return installed_; }
    // The icon while the window is hidden behind it, else null.
    QSystemTrayIcon* trayIcon() const { return trayIcon_.get(); }

    // Called by the window on every state change (windowStateChanged).
    void windowStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showWindow();
    QMainWindow* window_;
    std::function<bool()> notify_;
    std::function<bool()> trayAvailable_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    bool installed_ = false;
};

}  // namespace quorvel
