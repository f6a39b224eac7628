// Minimize to the tray: the image choice, a desktop without a tray, and hiding behind the icon.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QMainWindow>

#include "quorvel/TraySupport.h"

namespace quorvel {
namespace {

TEST(TraySupportTest, ImageFollowsTheTrayIconWidth) {
    struct Case {
        int width;
        int imageSize;
    };
    for (const Case& c : {Case{0, 16}, Case{16, 16}, Case{17, 20}, Case{20, 20}, Case{21, 24},
                          Case{24, 24}, Case{25, 32}, Case{32, 32}, Case{64, 32}}) {
        const QString path = TraySupport::imageForWidth(c.width);
        const QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        EXPECT_EQ(image.width(), c.imageSize) << "tray width " << c.width;
    }
}

class TrayWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.resize(200, 100);
        window.show();
    }
    void minimize() {
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
        QCoreApplication::processEvents();
    }
    void restore() {
        window.showNormal();
        QCoreApplication::processEvents();
    }

    QMainWindow window;
    bool trayPresent = true;
    bool notify = false;
    TraySupport tray{&window, [this] { return notify; }, [this] { return trayPresent; }};
};

TEST_F(TrayWindowTest, WithoutATrayNothingIsInstalledAndMinimizingIsOrdinary) {
    trayPresent = false;
    tray.addMinimizeToTraySupport();
    EXPECT_FALSE(tray.isInstalled());
    minimize();
    EXPECT_TRUE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(tray.trayIcon(), nullptr);
    tray.windowStateChanged();  // the window reports its change too
    EXPECT_TRUE(window.isVisible());
    tray.removeMinimizeToTraySupport();  // nothing to undo, nothing fails
    EXPECT_FALSE(tray.isInstalled());
}

TEST_F(TrayWindowTest, MinimizingHidesBehindTheIconAndRestoringShowsAgain) {
    notify = true;
    tray.addMinimizeToTraySupport();
    ASSERT_TRUE(tray.isInstalled());
    EXPECT_EQ(tray.trayIcon(), nullptr);

    minimize();
    EXPECT_FALSE(window.isVisible());
    ASSERT_NE(tray.trayIcon(), nullptr);
    QSystemTrayIcon* icon = tray.trayIcon();
    EXPECT_EQ(icon->toolTip(), "Tolvane");
    EXPECT_FALSE(icon->icon().isNull());
    tray.windowStateChanged();  // a second report of the same change makes no second icon
    EXPECT_EQ(tray.trayIcon(), icon);

    restore();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(tray.trayIcon(), nullptr);
}

TEST_F(TrayWindowTest, AClickOrDoubleClickOnTheIconShowsTheWindowNormal) {
    tray.addMinimizeToTraySupport();
    minimize();
    ASSERT_NE(tray.trayIcon(), nullptr);
    // Trays that report only single clicks must not leave the window lost behind the icon.
    emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(tray.trayIcon(), nullptr);

    minimize();
    ASSERT_NE(tray.trayIcon(), nullptr);
    emit tray.trayIcon()->activated(QSystemTrayIcon::Context);  // the menu click shows nothing
    EXPECT_FALSE(window.isVisible());
    emit tray.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(tray.trayIcon(), nullptr);
}

TEST_F(TrayWindowTest, RemovingTheSupportShowsAHiddenWindowAndEndsTheHiding) {
    tray.addMinimizeToTraySupport();
    minimize();
    ASSERT_FALSE(window.isVisible());
    tray.removeMinimizeToTraySupport();
    EXPECT_FALSE(tray.isInstalled());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(tray.trayIcon(), nullptr);

    restore();
    minimize();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(tray.trayIcon(), nullptr);
}

}  // namespace
}  // namespace quorvel
