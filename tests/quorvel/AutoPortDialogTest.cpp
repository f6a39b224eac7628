// The auto-detect dialog offscreen, over the serial library's simulated driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "quorvel/AutoPortDialog.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/support/RecordingMessagePresenter.h"
#include "quorvel/support/SimulatedPorts.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/FriendlyPortUtil.h"
#include "quorvel/worker/RecordingView.h"
#include "serialkit/SimulatedSerial.h"

namespace quorvel {
namespace {

using serialkit::SimulatedSerial;
using test::RecordingMessagePresenter;
using Lines = SimulatedSerial::ModemLines;
using namespace std::chrono_literals;

QString workerText(const char* key) {
    return util::Bundle::worker().getString(key);
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    return worker::RecordingView::pumpUntil(done, timeout);
}

const auto kOn = [](const Lines&) { return true; };
const auto kOff = [](const Lines&) { return false; };
const auto kFollowsRts = [](const Lines& l) { return l.rts; };

// A window whose auto button runs the real dialog without blocking: the scan is left to
// finish, then the dialog is closed with its own button.
class ScanningFrame : public ZoviziDeZizFrame2 {
  public:
    using ZoviziDeZizFrame2::ZoviziDeZizFrame2;
    void pressAuto() { autoButtonActionPerformed(); }
    QString lastText;
    QString lastButton;
    bool closedByButton = false;

  protected:
    int execDialog(QDialog& dialog) override {
        auto& autoPort = dynamic_cast<AutoPortDialog&>(dialog);
        dialog.show();
        EXPECT_TRUE(pumpUntil([&] { return autoPort.getWorker().isDone(); }));
        lastText = autoPort.textPane1->toPlainText();
        lastButton = autoPort.okButton->text();
        autoPort.okButton->click();
        closedByButton = pumpUntil([&] { return !dialog.isVisible(); }, 2s);
        return dialog.result();
    }
};

class AutoPortDialogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        window.reset();
        util::FriendlyPortUtil::clear();
    }

    void addPort(const std::string& name, SimulatedSerial::LineFunction dsr,
                 SimulatedSerial::LineFunction cts) {
        simulated.addPort(name, std::move(dsr), std::move(cts));
    }

    ScanningFrame& makeWindow(const QStringList& ports) {
        window = std::make_unique<ScanningFrame>(config::Config(), ports, messages);
        return *window;
    }

    std::shared_ptr<RecordingMessagePresenter> messages =
        std::make_shared<RecordingMessagePresenter>();
    test::SimulatedPorts simulated;
    SimulatedSerial* const sim = &simulated.driver();
    std::unique_ptr<ScanningFrame> window;
};

TEST_F(AutoPortDialogTest, TheFoundPortIsSelectedByItsFriendlyEntry) {
    addPort("/dev/ttyS0", kOff, kOff);
    addPort("/dev/ttyUSB0", kOn, kFollowsRts);
    util::FriendlyPortUtil::setPortInfoList(
        {serialkit::PortDriverInfo("/dev/ttyUSB0", "FTDI", "USB Serial Port")});
    ScanningFrame& frame = makeWindow({"/dev/ttyS0", "/dev/ttyUSB0"});
    ASSERT_EQ(frame.portList->currentIndex(), 0);

    frame.pressAuto();

    EXPECT_EQ(frame.portList->currentText(), "/dev/ttyUSB0: USB Serial Port - FTDI");
    frame.updateConfigFromTabs();
    EXPECT_EQ(frame.getConfig().getPort(), "/dev/ttyUSB0");
    // The whole scan, line by line, ending with the result.
    const QStringList lines = frame.lastText.split('\n');
    EXPECT_EQ(lines, QStringList({workerText("auto.port.detection.started"),
                                  util::Bundle::worker().format("testing.port.0", {"/dev/ttyS0"}),
                                  workerText("confidence") + " 0",
                                  util::Bundle::worker().format("testing.port.0", {"/dev/ttyUSB0"}),
                                  workerText("confidence") + " 3",
                                  workerText("best.port") + " /dev/ttyUSB0"}));
    EXPECT_EQ(frame.lastButton, "Close");
    EXPECT_TRUE(frame.closedByButton);
    EXPECT_FALSE(sim->isOpen("/dev/ttyUSB0"));
}

TEST_F(AutoPortDialogTest, APortNotInTheListChangesNothing) {
    addPort("/dev/ttyUSB0", kOn, kFollowsRts);
    ScanningFrame& frame = makeWindow({"/dev/ttyS0", "/dev/ttyS1"});
    frame.portList->setCurrentIndex(1);
    {
        AutoPortDialog dialog(frame, {"/dev/ttyUSB0"});
        ASSERT_TRUE(pumpUntil([&] { return dialog.getWorker().isDone(); }));
        EXPECT_THAT(dialog.textPane1->toPlainText().toStdString(),
                    ::testing::EndsWith((workerText("best.port") + " /dev/ttyUSB0").toStdString()));
    }
    EXPECT_EQ(frame.portList->currentIndex(), 1);
    EXPECT_EQ(frame.portList->currentText(), "/dev/ttyS1");
}

TEST_F(AutoPortDialogTest, NoPortFoundSelectsNothingAndSaysSo) {
    addPort("/dev/ttyS0", kOff, kOff);
    ScanningFrame& frame = makeWindow({"/dev/ttyS0", "/dev/ttyS1"});
    frame.portList->setCurrentIndex(1);
    AutoPortDialog dialog(frame, {"/dev/ttyS0"});
    ASSERT_TRUE(pumpUntil([&] { return dialog.getWorker().isDone(); }));
    EXPECT_EQ(frame.portList->currentIndex(), 1);
    const QTextBlock last = dialog.textPane1->document()->lastBlock();
    EXPECT_EQ(last.text(), workerText("could.not.auto.detect.port"));
    QTextCursor cursor(last);
    cursor.movePosition(QTextCursor::EndOfBlock);
    const QTextCharFormat failure = cursor.charFormat();
    EXPECT_EQ(failure.fontWeight(), QFont::Bold);
    // Louder than a found port: the user has to act.
    dialog.appendMessage("Best port: /dev/ttyS0", AutoPortDialog::Emphasis::STRONG);
    QTextCursor found(dialog.textPane1->document()->lastBlock());
    found.movePosition(QTextCursor::EndOfBlock);
    EXPECT_NE(failure.foreground(), found.charFormat().foreground());
    EXPECT_EQ(dialog.okButton->text(), "Close");
}

TEST_F(AutoPortDialogTest, CancelStopsTheScanAndKeepsTheDialogOpen) {
    addPort("/dev/ttyS0", kOn, kFollowsRts);
    ScanningFrame& frame = makeWindow({"/dev/ttyS0"});
    // A wait far longer than the test may take: only an interrupted wait lets it end.
    AutoPortDialog dialog(frame, {"/dev/ttyS0"}, std::chrono::hours(1));
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Auto-detect port");
    EXPECT_EQ(dialog.okButton->text(), "Cancel");
    ASSERT_TRUE(pumpUntil([&] { return sim->isOpen("/dev/ttyS0"); }));

    dialog.okButton->click();
    EXPECT_EQ(dialog.okButton->text(), "Close");
    ASSERT_TRUE(pumpUntil([&] { return dialog.getWorker().isDone(); }));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();

    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.okButton->text(), "Close");
    EXPECT_EQ(dialog.textPane1->document()->lastBlock().text(), workerText("stopped"));
    EXPECT_TRUE(pumpUntil([&] { return !sim->isOpen("/dev/ttyS0"); }));
    EXPECT_EQ(frame.portList->currentIndex(), 0);

    // Now the button closes it.
    dialog.okButton->click();
    EXPECT_TRUE(pumpUntil([&] { return !dialog.isVisible(); }, 2s));
}

TEST_F(AutoPortDialogTest, ClosingTheWindowWhileScanningCancels) {
    addPort("/dev/ttyS0", kOn, kFollowsRts);
    ScanningFrame& frame = makeWindow({"/dev/ttyS0"});
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "the window's close control");
        AutoPortDialog dialog(frame, {"/dev/ttyS0"}, std::chrono::hours(1));
        dialog.show();
        ASSERT_TRUE(pumpUntil([&] { return sim->isOpen("/dev/ttyS0"); }));
        if (escape) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&dialog, &press);
        } else {
            dialog.close();
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_TRUE(dialog.getWorker().isCancelled());
        // Within an hour-long wait: the cancel interrupted it.
        ASSERT_TRUE(pumpUntil([&] { return dialog.getWorker().isDone(); }));
        EXPECT_TRUE(pumpUntil([&] { return !sim->isOpen("/dev/ttyS0"); }));
        EXPECT_FALSE(dialog.getWorker().getBestPortName().has_value());
    }
}

TEST_F(AutoPortDialogTest, MessagesAreShownAsPlainTextOneLineEach) {
    ScanningFrame& frame = makeWindow({"/dev/ttyS0"});
    AutoPortDialog dialog(frame, {});
    ASSERT_TRUE(pumpUntil([&] { return dialog.getWorker().isDone(); }));
    dialog.textPane1->clear();
    dialog.appendMessage("first <b>not bold</b>", AutoPortDialog::Emphasis::NONE);
    dialog.appendMessage("Best port: COM7", AutoPortDialog::Emphasis::STRONG);
    EXPECT_EQ(dialog.textPane1->toPlainText(), "first <b>not bold</b>\nBest port: COM7");
    QTextCursor first(dialog.textPane1->document()->firstBlock());
    first.movePosition(QTextCursor::EndOfBlock);
    EXPECT_NE(first.charFormat().fontWeight(), QFont::Bold);
    QTextCursor second(dialog.textPane1->document()->lastBlock());
    second.movePosition(QTextCursor::EndOfBlock);
    EXPECT_EQ(second.charFormat().fontWeight(), QFont::Bold);
}

}  // namespace
}  // namespace quorvel
