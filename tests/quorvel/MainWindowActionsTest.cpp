// The main window as the program runs it: start-up, reading from a pseudo-terminal into the
// event log and the typing stage, stopping, autosave, and the buttons' actions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/platform/RecordingKeyInjector.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/LocalHttpServer.h"
#include "quorvel/support/RecordingMessagePresenter.h"
#include "quorvel/support/SimulatedPorts.h"
#include "quorvel/support/TempPrefs.h"
#include "quorvel/util/BundleKeys.h"
#include "quorvel/util/FriendlyPortUtil.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"
#include "support/Pty.h"

namespace quorvel {
namespace {

using H = config::ConfigHelper;
using Kind = test::RecordingMessagePresenter::Kind;
template <typename E>
using S = config::Setting<E>;

QString tolvane(const char* key) {
    return util::Bundle::tolvane().getString(key);
}

QString workerText(const char* key) {
    return util::Bundle::worker().getString(key);
}

// Waits for a condition while the event loop runs; false when the deadline passes first.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What the fake sound output was asked to do.
struct SoundRecord {
    std::atomic<int> created{0};
    std::atomic<int> starts{0};
    std::atomic<int> closes{0};
    bool failOpen = false;
};

class FakeSound : public worker::SoundOutput {
  public:
    explicit FakeSound(std::shared_ptr<SoundRecord> record) : record_(std::move(record)) {}
    void open() override {
        if (record_->failOpen) {
            throw std::runtime_error("no audio device");
        }
    }
    void setSequence(const worker::MidiSequence&) override {}
    void setTickPosition(long) override {}
    void start() override { ++record_->starts; }
    void close() override { ++record_->closes; }

  private:
    std::shared_ptr<SoundRecord> record_;
};

// The window with its run state in view, answering every dialog with Cancel.
class ActionsFrame : public ZoviziDeZizFrame2 {
  public:
    using ZoviziDeZizFrame2::ZoviziDeZizFrame2;

    bool hasKeybot() const { return keybot != nullptr; }
    bool hasSoundBot() const { return soundBot != nullptr; }
    bool hasIgnorer() const { return ignorer != nullptr; }
    bool hasWorker() const { return worker != nullptr; }
    bool updateCheckDone() const { return updateWorker && updateWorker->isDone(); }
    bool commandLinePort() const { return portFromCommandLine; }
    EventLog* log() const { return eventLogWriter; }
    QStringList offeredPorts() const { return portNames; }

    void pressStartStop() { startStopJButtonActionPerformed(); }
    void pressDefault() { defaultButtonActionPerformed(); }
    void pressRefresh() { refreshPortsButtonActionPerformed(); }
    void pressAdjustIgnore() { adjustIgnoreButtonActionPerformed(); }
    void pressCustomize() { customizeButtonActionPerformed(); }
    void pressExport() { exportSettingsButtonActionPerformed(); }
    void pressImport() { importSettingsButtonActionPerformed(); }

    std::vector<QString> dialogs;

  protected:
    int execDialog(QDialog& dialog) override {
        dialogs.push_back(QString::fromLatin1(dialog.metaObject()->className()));
        return QDialog::Rejected;
    }
};

struct Span {
    QString text;
    QString style;
};

class MainWindowActionsTest : public ::testing::Test {
  protected:
    void SetUp() override { worker::Keybot::clearQueue(); }

    void TearDown() override {
        window.reset();
        serialkit::SystemProperties::clear("UPDATE_SERVER");
        serialkit::SystemProperties::clear("VERSION");
        worker::Keybot::clearQueue();
        util::FriendlyPortUtil::clear();
        util::BundleKeys::setExtraKeysForTesting({});
        if (serialLayerChanged) {
            for (const char* name : {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"}) {
                serialkit::SystemProperties::clear(name);
            }
            serialkit::SerialPortLocal::reinitialize();
        }
    }

    FrameServices services() {
        FrameServices s;
        s.messages = messages;
        s.keyOutput = [this](const QString& token, const std::function<void()>& beforeAsking) {
            tokensGiven.push_back(token);
            if (portal) {
                beforeAsking();
                statusWhileAsked = window->statusJLabel->originalText();
            }
            if (keyboardFailure) {
                throw std::runtime_error("Cannot open display");
            }
            return FrameServices::KeyOutput{injector, "Recorded keys", portal ? "token-2" : ""};
        };
        s.soundOutput = [this]() -> std::unique_ptr<worker::SoundOutput> {
            ++sound->created;
            return std::make_unique<FakeSound>(sound);
        };
        s.exitProgram = [this](int code) { exitCodes.push_back(code); };
        s.trayAvailable = [] { return false; };
        s.updateCheckDue = [this] {
            ++updateDraws;
            return updateDue;
        };
        return s;
    }

    // The program's window; by default the pseudo-terminal is its command-line port.
    ActionsFrame& open(std::optional<QStringList> arguments = std::nullopt) {
        window = std::make_unique<ActionsFrame>(
            arguments ? *arguments : QStringList{QString::fromStdString(pty.slavePath())},
            services());
        return *window;
    }

    // Stored settings the next window starts with.
    static void store(const std::function<void(config::Config&)>& change) {
        config::Config c;
        c.setInstrument(H::Instrument::GENERIC);
        c.setInputTerminator(H::InputTerminatorValue::getDefault());
        change(c);
        ASSERT_TRUE(config::ConfigStore().saveConfig(c));
    }

    void useSerialProperty(const char* name, const std::string& value) {
        serialLayerChanged = true;
        serialkit::SystemProperties::set(name, value);
        // The serial layer reads its platform and list properties at its start-up only.
        serialkit::SerialPortLocal::reinitialize();
    }

    void startReading() {
        window->pressStartStop();
        ASSERT_TRUE(window->isRunning());
        ASSERT_EQ(window->tabbedPane->count(), 3);
    }

    void waitForLines(int count) {
        const QString status = tolvane("line.count") + QString::number(count);
        ASSERT_TRUE(waitFor([&] { return window->statusJLabel->originalText() == status; }))
            << window->statusJLabel->originalText().toStdString();
    }

    // Until the port has taken every byte written to the far end.
    void waitUntilRead() {
        ASSERT_TRUE(waitFor([this] { return pty.unreadBytes() == 0; }));
        // The port's own buffer hands its bytes to the loop at once; give it that moment.
        QDeadlineTimer settle(200);
        while (!settle.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }

    void stopReading() {
        window->pressStartStop();
        ASSERT_FALSE(window->isRunning());
        ASSERT_TRUE(waitFor([&] { return window->tabbedPane->count() == 7; }));
    }

    QString styleOf(const QTextCharFormat& format) const {
        for (auto style :
             {EventLog::Style::DEFAULT, EventLog::Style::REGULAR, EventLog::Style::UNKNOWN,
              EventLog::Style::IMPORTANT, EventLog::Style::TYPED, EventLog::Style::IGNORED}) {
            const QTextCharFormat expected = window->log()->format(style);
            if (expected.foreground() == format.foreground() &&
                expected.fontWeight() == format.fontWeight()) {
                return EventLog::styleName(style);
            }
        }
        return QStringLiteral("?");
    }

    // Every log line as its styled pieces (the line break not included).
    std::vector<std::vector<Span>> logLines() const {
        std::vector<std::vector<Span>> lines;
        const QTextDocument* document = window->eventLog->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            std::vector<Span> spans;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                spans.push_back({fragment.text(), styleOf(fragment.charFormat())});
            }
            if (!spans.empty()) {
                lines.push_back(spans);
            }
        }
        return lines;
    }

    // The pieces of the first line holding `text` after its time; empty when there is none.
    std::vector<Span> lineWith(const QString& text) const {
        for (const auto& spans : logLines()) {
            QString whole;
            for (const Span& span : spans) {
                whole += span.text;
            }
            if (whole.mid(9).contains(text)) {
                return spans;
            }
        }
        return {};
    }

    static QString textOf(const std::vector<Span>& spans) {
        QString whole;
        for (const Span& span : spans) {
            whole += span.text;
        }
        return whole;
    }

    std::vector<int> presses() const {
        std::vector<int> codes;
        for (const auto& call : injector->calls()) {
            if (call.kind == platform::RecordingKeyInjector::Kind::PRESS) {
                codes.push_back(call.value);
            }
        }
        return codes;
    }

    // The presses that type `texts`, each followed by the output terminator.
    std::vector<int> pressesFor(const QStringList& texts) const {
        const config::Config& c = window->getConfig();
        const H::Keymap keymap = H::getKeymap(
            c.getKeyboardType(),
            config::InstrumentPresets::getKeyMapType(c.getInstrument().value_or(
                S<H::Instrument>::getDefault())));
        std::vector<int> codes;
        for (const QString& text : texts) {
            if (H::getKeyCode(c.getStartWith()) != 0) {
                codes.push_back(H::getKeyCode(c.getStartWith()));
            }
            for (const QChar ch : text) {
                const auto keys = keymap.find(ch.unicode());
                EXPECT_NE(keys, keymap.end()) << "cannot type " << ch.toLatin1();
                if (keys != keymap.end()) {
                    codes.insert(codes.end(), keys->second.begin(), keys->second.end());
                }
            }
            if (H::getKeyCode(c.getOutputTerminator()) != 0) {
                codes.push_back(H::getKeyCode(c.getOutputTerminator()));
            }
        }
        return codes;
    }

    // Whether a span of the log shows `value` in `style` before the deadline: a value's outcome
    // comes from the typing thread after its keys.
    bool valueShownAs(const QString& value, const QString& style) const {
        return waitFor([&] {
            for (const auto& spans : logLines()) {
                for (const Span& span : spans) {
                    if (span.text == value && span.style == style) {
                        return true;
                    }
                }
            }
            return false;
        });
    }

    void waitForPresses(const std::vector<int>& expected) {
        EXPECT_TRUE(waitFor([&] { return presses().size() >= expected.size(); }));
        EXPECT_EQ(presses(), expected);
    }

    const test::RecordingMessagePresenter::Box* boxWithTitle(const QString& title) const {
        for (const auto& box : messages->boxes) {
            if (box.title == title) {
                return &box;
            }
        }
        return nullptr;
    }

    support::TempPrefs prefs;
    testsupport::Pty pty;
    std::shared_ptr<test::RecordingMessagePresenter> messages =
        std::make_shared<test::RecordingMessagePresenter>();
    std::shared_ptr<platform::RecordingKeyInjector> injector =
        std::make_shared<platform::RecordingKeyInjector>();
    std::shared_ptr<SoundRecord> sound = std::make_shared<SoundRecord>();
    std::vector<int> exitCodes;
    bool keyboardFailure = false;
    // The output asks the desktop as the portal does, and is given a token to keep.
    bool portal = false;
    std::vector<QString> tokensGiven;
    QString statusWhileAsked;
    bool updateDue = false;
    int updateDraws = 0;
    bool serialLayerChanged = false;
    std::unique_ptr<ActionsFrame> window;
};

// --- reading ---

TEST_F(MainWindowActionsTest, LinesAreLoggedCountedAndTypedInOrder) {
    open();
    window->outputTerminatorBox->select(H::OutputTerminator::ENTER);
    startReading();
    EXPECT_TRUE(window->hasKeybot());
    EXPECT_FALSE(window->hasIgnorer());

    pty.write("ST,GS,  12.50 kg\r");
    pty.write("ST,GS,  7.25 kg\r");
    waitForLines(2);

    const auto first = lineWith("12.50");
    ASSERT_EQ(first.size(), 4u) << textOf(first).toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d $").match(first[0].text).hasMatch());
    EXPECT_EQ(first[0].style, "regular");
    EXPECT_EQ(first[1].text, "ST,GS,  ");
    EXPECT_EQ(first[1].style, "ignored");
    EXPECT_EQ(first[2].text, "12.50");
    EXPECT_EQ(first[3].text, " kg<13>");
    EXPECT_EQ(first[3].style, "ignored");
    EXPECT_EQ(lineWith("7.25").at(2).text, "7.25");

    waitForPresses(pressesFor({"12.50", "7.25"}));
    EXPECT_TRUE(valueShownAs("12.50", "typed"));
    EXPECT_TRUE(valueShownAs("7.25", "typed"));

    // A key the output refuses: the value is not shown as typed.
    injector->refuse(pressesFor({"3"}).front());
    pty.write("ST,GS,  3.5 kg\r");
    waitForLines(3);
    EXPECT_TRUE(valueShownAs("3.5", "important"));
    EXPECT_FALSE(valueShownAs("3.5", "typed"));
}

// Holds the typing thread at its first key press until opened.
class GatedKeyInjector : public platform::RecordingKeyInjector {
  public:
    void keyPress(int keyCode) override {
        waiting = true;
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
        platform::RecordingKeyInjector::keyPress(keyCode);
    }
    void open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    std::atomic<bool> waiting{false};

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

TEST_F(MainWindowActionsTest, AValueIsQueuedForTypingBeforeItsLineIsShown) {
    auto gated = std::make_shared<GatedKeyInjector>();
    injector = gated;
    open();
    startReading();
    pty.write("1.5 kg\r");
    // The first value is in the typist's hands: the second can only wait in the queue.
    EXPECT_TRUE(waitFor([&] { return gated->waiting.load(); }));
    std::vector<std::size_t> queuedWhenShown;
    QObject::connect(window->eventLog, &QTextEdit::textChanged,
                     [&] { queuedWhenShown.push_back(worker::Keybot::queuedCount()); });
    pty.write("2.5 kg\r");
    waitForLines(2);
    // Nothing is typed yet, so nothing is shown as typed.
    EXPECT_EQ(lineWith("1.5").at(1).style, "default");
    gated->open();
    ASSERT_FALSE(queuedWhenShown.empty());
    EXPECT_EQ(queuedWhenShown.front(), 1u);
    waitForPresses(pressesFor({"1.5", "2.5"}));
}

TEST_F(MainWindowActionsTest, StartLogsInstrumentPatternAndKeyboard) {
    open();
    window->getConfig().setCustomRegEx("([0-9]+)");
    startReading();
    const QString device = tolvane("ZoviziDeZizFrame2.deviceLabel.text") + " GENERIC";
    const QString keyboard = tolvane("keyboard.output.started.type") + " QUERTY, " +
                             tolvane("keyboard.output.through") + " Recorded keys";
    std::vector<QString> texts;
    for (const auto& line : logLines()) {
        texts.push_back(textOf(line).mid(9));
        EXPECT_EQ(line.front().style, "regular") << textOf(line).toStdString();
    }
    auto at = [&](const QString& text) {
        return std::find(texts.begin(), texts.end(), text) - texts.begin();
    };
    ASSERT_LT(at(device), static_cast<long>(texts.size()));
    EXPECT_EQ(at("Custom regEx: ([0-9]+)"), at(device) + 1);
    EXPECT_EQ(at(keyboard), at(device) + 2);
}

TEST_F(MainWindowActionsTest, CommaValueIsFoundAsPointInTheRawLine) {
    open();
    window->decimalSeparatorBox->select(H::DecimalSeparator::COMMA);
    startReading();
    pty.write("ST,GS,  12.50 kg\r");
    waitForLines(1);
    const auto line = lineWith("12.50");
    ASSERT_EQ(line.size(), 4u);
    EXPECT_EQ(line[2].text, "12.50");
    waitForPresses(pressesFor({"12,50"}));
    EXPECT_TRUE(valueShownAs("12.50", "typed"));
}

TEST_F(MainWindowActionsTest, DuplicateClearedByTheIgnoreFilterIsLoggedIgnoredAndNotTyped) {
    open();
    window->ignoreDuplicatesCheckBox->setChecked(true);
    window->getConfig().setIgnoreTimeLimit("600000");
    startReading();
    EXPECT_TRUE(window->hasIgnorer());

    pty.write("5.5 kg\r");
    pty.write("5.5 kg\r");
    pty.write("6.5 kg\r");
    waitForLines(3);

    const auto lines = logLines();
    std::vector<std::vector<Span>> fives;
    for (const auto& line : lines) {
        if (textOf(line).contains("5.5 kg")) {
            fives.push_back(line);
        }
    }
    ASSERT_EQ(fives.size(), 2u);
    ASSERT_EQ(fives[0].size(), 3u);  // time, value, rest
    EXPECT_EQ(fives[0][1].text, "5.5");
    ASSERT_EQ(fives[1].size(), 1u);
    EXPECT_EQ(fives[1][0].style, "ignored");
    waitForPresses(pressesFor({"5.5", "6.5"}));
    EXPECT_TRUE(valueShownAs("5.5", "typed"));
}

TEST_F(MainWindowActionsTest, WithoutDuplicateSuppressionRepeatsAreAllTyped) {
    open();
    startReading();
    EXPECT_FALSE(window->hasIgnorer());
    pty.write("5.5 kg\r5.5 kg\r");
    waitForLines(2);
    waitForPresses(pressesFor({"5.5", "5.5"}));
}

TEST_F(MainWindowActionsTest, EveryLineIsRecordedWithWhatBecameOfIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("readings.csv");
    open();
    window->ignoreDuplicatesCheckBox->setChecked(true);
    window->getConfig().setIgnoreTimeLimit("600000");
    window->valueLogTextField->setText(path);
    startReading();
    EXPECT_FALSE(lineWith(path).empty());
    injector->refuse(pressesFor({"3"}).front());
    const auto feed = [&](const char* raw, const char* value, int number, bool skipped = false) {
        worker::DataLine line(raw, value, number, worker::DataLine::Clock::now(), false);
        line.setSkippedAsUnstable(skipped);
        window->processDataLine(line);
    };
    const auto rows = [&] {
        QFile file(path);
        QMap<int, QStringList> byLine;  // typed values are recorded after their keys
        for (const QByteArray& row : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n')
                                                                    : QByteArrayList()) {
            const QStringList fields =
                QString::fromUtf8(row.endsWith('\r') ? row.chopped(1) : row).split(',');
            if (fields.size() == 7) {
                byLine[fields[3].toInt()] = fields;
            }
        }
        return byLine;
    };
    feed("5.5 kg", "5.5", 1);
    feed("5.5 kg", "5.5", 2);
    feed("US 7.0 kg", "", 3, true);
    feed("OL", "", 4);
    feed("3 kg", "3", 5);
    ASSERT_TRUE(waitFor([&] { return rows().size() == 6; }));  // and the header as line 0
    window->pressStartStop();
    feed("6.5 kg", "6.5", 6);  // after the stop, before the worker has ended
    ASSERT_TRUE(waitFor([&] { return window->tabbedPane->count() == 7; }));

    const std::vector<QStringList> expected = {
        {"time", "port", "instrument", "line", "received", "value", "outcome"},
        {"5.5 kg", "5.5", "typed"},   {"5.5 kg", "5.5", "repeat"}, {"US 7.0 kg", "", "unstable"},
        {"OL", "", "no value"},       {"3 kg", "3", "failed"},     {"6.5 kg", "6.5", "not typed"}};
    const auto recorded = rows();
    ASSERT_EQ(recorded.size(), 7);
    EXPECT_EQ(recorded[0], expected[0]);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(recorded[n].mid(4), expected[n]) << n;
        EXPECT_EQ(recorded[n][1], QString::fromStdString(pty.slavePath()));
        EXPECT_EQ(recorded[n][2], S<H::Instrument>::label(H::Instrument::GENERIC));
    }
}

TEST_F(MainWindowActionsTest, StopRestoresTheStoppedLayoutAndReportsTheUnfinishedLine) {
    open();
    startReading();
    EXPECT_EQ(window->startStopJButton->text(), tolvane("ZoviziDeZizFrame2.startStopJButton.textStop"));
    pty.write("1.5\r9.9");
    waitForLines(1);
    waitUntilRead();

    stopReading();
    EXPECT_EQ(window->startStopJButton->text(), tolvane("ZoviziDeZizFrame2.startStopJButton.text"));
    EXPECT_EQ(window->tabbedPane->widget(1), window->inputPanel);
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("ZoviziDeZizFrame2.statusJLabel.text"));
    EXPECT_FALSE(window->hasKeybot());

    const auto stopped = lineWith(workerText("stopped"));
    ASSERT_FALSE(stopped.empty());
    EXPECT_EQ(stopped.back().style, "regular");
    const auto unsent = lineWith(workerText("unsent.data") + " 9.9");
    ASSERT_FALSE(unsent.empty());
    EXPECT_EQ(unsent.back().style, "important");

    // The finished worker goes, and the window starts again on the same port.
    EXPECT_TRUE(waitFor([&] { return !window->hasWorker(); }));
    startReading();
    pty.write("2.5\r");
    waitForLines(1);
}

TEST_F(MainWindowActionsTest, StartAgainBeforeTheStopIsReportedReadsOnTheSamePort) {
    open();
    startReading();
    window->pressStartStop();
    window->pressStartStop();  // no turn of the event loop in between
    ASSERT_TRUE(window->isRunning());
    EXPECT_EQ(window->tabbedPane->count(), 3);
    pty.write("4.25\r");
    waitForLines(1);
    stopReading();
    EXPECT_EQ(window->startStopJButton->text(), tolvane("ZoviziDeZizFrame2.startStopJButton.text"));
}

TEST_F(MainWindowActionsTest, DeviceLossLeavesTheWindowStoppedAndStartable) {
    store([](config::Config& c) { c.reconnect = false; });
    open();
    startReading();
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return window->tabbedPane->count() == 7; }));
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->hasKeybot());
    EXPECT_TRUE(waitFor([&] { return !window->hasWorker(); }));
    // Said where the user looks, and why in the log.
    EXPECT_EQ(window->statusJLabel->originalText(),
              util::Bundle::tolvane().format("connection.to.0.lost",
                                             {QString::fromStdString(pty.slavePath())}));
    const auto failure = lineWith(workerText("execution.exception"));
    ASSERT_GT(textOf(failure).size(), 9 + workerText("execution.exception").size());
    EXPECT_EQ(failure.back().style, "important");
}

TEST_F(MainWindowActionsTest, WithReconnectALostDeviceIsWaitedForUntilStop) {
    open();
    ASSERT_TRUE(window->reconnectCheckBox->isChecked());  // on by default
    startReading();
    pty.write("8.5\r");
    waitForLines(1);
    pty.closeMaster();
    const QString port = QString::fromStdString(pty.slavePath());
    const QString waiting = util::Bundle::tolvane().format("waiting.for.0", {port});
    ASSERT_TRUE(waitFor([&] { return window->statusJLabel->originalText() == waiting; }));
    EXPECT_TRUE(window->isRunning());
    ASSERT_FALSE(lineWith(waiting).empty());
    EXPECT_EQ(lineWith(waiting).back().style, "important");
    // A device server's dropped connection is not called an unplug.
    const QString server = "rfc2217://10.0.0.5:2217";
    window->waitingForDevice(server);
    EXPECT_EQ(window->statusJLabel->originalText(),
              util::Bundle::tolvane().format("waiting.for.server.0", {server}));
    // Back: the connected text with the lines so far, and a line in the log.
    window->deviceBack(port);
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("line.count") + "1");
    EXPECT_FALSE(lineWith(util::Bundle::tolvane().format("device.0.back", {port})).empty());
    stopReading();
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("ZoviziDeZizFrame2.statusJLabel.text"));
    window->reconnectCheckBox->setChecked(false);
    EXPECT_FALSE(window->getConfig().reconnect);
}

// --- failures at start ---

TEST_F(MainWindowActionsTest, KeyboardFailureShowsItsBoxAndDoesNotStart) {
    open();
    keyboardFailure = true;
    portal = true;  // a refused desktop dialog
    window->pressStartStop();
    EXPECT_EQ(statusWhileAsked, tolvane("keyboard.output.portal.asks"));
    EXPECT_NE(window->statusJLabel->originalText(), statusWhileAsked);
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->hasWorker());
    EXPECT_EQ(window->tabbedPane->count(), 7);
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::ERROR);
    EXPECT_EQ(messages->boxes[0].title, tolvane("error"));
    EXPECT_EQ(messages->boxes[0].message,
              tolvane("error.initializing.keyboard.output") + "Cannot open display\n\n" +
                  tolvane("keyboard.output.what.to.do"));
}

TEST_F(MainWindowActionsTest, ThePortalIsExplainedBeforeItAsksAndItsTokenIsKept) {
    store([](config::Config& c) { c.portalRestoreToken = "token-1"; });
    portal = true;
    open();
    startReading();
    EXPECT_EQ(statusWhileAsked, tolvane("keyboard.output.portal.asks"));
    EXPECT_NE(window->statusJLabel->originalText(), statusWhileAsked);
    EXPECT_EQ(tokensGiven, std::vector<QString>{"token-1"});
    config::Config stored;
    config::ConfigStore().loadConfig(stored, {});
    EXPECT_EQ(stored.portalRestoreToken, "token-2");
}

TEST_F(MainWindowActionsTest, CapsLockWarnsAndStartsAnyway) {
    open();
    injector->setCapsLock(true);
    startReading();
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::WARNING);
    EXPECT_EQ(messages->boxes[0].title, tolvane("warning"));
    EXPECT_EQ(messages->boxes[0].message, tolvane("please.turn.off.caps.lock"));
}

TEST_F(MainWindowActionsTest, SoundNoneCreatesNoSoundStage) {
    open();
    window->soundComboBox->select(H::Sound::NONE);
    startReading();
    EXPECT_FALSE(window->hasSoundBot());
    EXPECT_EQ(sound->created.load(), 0);
    pty.write("3.5\r");
    waitForLines(1);
    EXPECT_EQ(sound->starts.load(), 0);
}

TEST_F(MainWindowActionsTest, SoundPlaysOnlyForLinesWithAValue) {
    open();
    window->soundComboBox->select(H::Sound::COWBELL);
    startReading();
    EXPECT_TRUE(window->hasSoundBot());
    pty.write("3.5\rno value\r4.5\r");
    waitForLines(3);
    EXPECT_EQ(sound->starts.load(), 2);
    stopReading();
    EXPECT_FALSE(window->hasSoundBot());
    EXPECT_GE(sound->closes.load(), 1);
}

TEST_F(MainWindowActionsTest, SoundFailureShowsItsBoxAndReadsWithoutSound) {
    open();
    sound->failOpen = true;
    window->soundComboBox->select(H::Sound::CLAVES);
    startReading();
    EXPECT_FALSE(window->hasSoundBot());
    const auto* box = boxWithTitle(tolvane("sound.output.error"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->message, tolvane("error.while.initializing.sound.output") + "no audio device");
}

TEST_F(MainWindowActionsTest, PortThatCannotBeOpenedShowsErrorOpeningPortAndLeavesNothingRunning) {
    open(QStringList{"/dev/no-such-tty-for-tolvane"});
    window->pressStartStop();
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->hasWorker());
    EXPECT_FALSE(window->hasKeybot());
    EXPECT_EQ(window->tabbedPane->count(), 7);
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].title, tolvane("error"));
    EXPECT_TRUE(messages->boxes[0].message.startsWith(tolvane("error.opening.port")));
    EXPECT_GT(messages->boxes[0].message.size(), tolvane("error.opening.port").size());
}

TEST_F(MainWindowActionsTest, PortFailuresSayWhatToDoNext) {
    const auto failureOf = [this](const QStringList& arguments) -> QString {
        messages->boxes.clear();
        open(arguments);
        window->pressStartStop();
        EXPECT_FALSE(window->isRunning());
        EXPECT_EQ(messages->boxes.size(), 1u);
        const QString text = messages->boxes.empty() ? QString() : messages->boxes[0].message;
        window.reset();
        return text;
    };
    {
        // Held by another program.
        serialkit::SerialConfig line(pty.slavePath());
        serialkit::SerialPortLocal holder(line);
        const QString text = failureOf({QString::fromStdString(pty.slavePath())});
        EXPECT_TRUE(text.contains("Port is in use")) << text.toStdString();
        EXPECT_TRUE(text.endsWith(tolvane("port.in.use.what.to.do"))) << text.toStdString();
    }
    {
        const QString text = failureOf({"/dev/no-such-tty-for-tolvane"});
        EXPECT_TRUE(text.endsWith(tolvane("port.missing.what.to.do"))) << text.toStdString();
    }
    {
        // Nothing listens on port 1 here.
        const QString text = failureOf({"rfc2217://127.0.0.1:1"});
        EXPECT_TRUE(text.contains("Connection refused")) << text.toStdString();
        EXPECT_TRUE(text.endsWith(tolvane("port.network.what.to.do"))) << text.toStdString();
    }
    {
        // Root may open any device, so the refusal comes from the simulated driver.
        serialLayerChanged = true;
        auto sim = std::make_shared<serialkit::SimulatedSerial>();
        sim->addPort("/dev/ttyS7");
        sim->setOpenResult("/dev/ttyS7", serialkit::NativeSerial::ERR_PERMISSION);
        serialkit::SerialPortLocal::useNative(sim);
        const QString text = failureOf({"/dev/ttyS7"});
        EXPECT_TRUE(text.contains("Permission denied")) << text.toStdString();
        EXPECT_TRUE(text.endsWith(tolvane("port.permission.what.to.do"))) << text.toStdString();
        EXPECT_TRUE(text.contains("dialout"));
    }
}

TEST_F(MainWindowActionsTest, MissingPortIsAnInvalidSetting) {
    open();
    window->portList->clear();
    window->getConfig().setPort("");
    window->pressStartStop();
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->hasKeybot());
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].message,
              tolvane("invalid.setting") + workerText("null.port.error"));
}

// --- construction ---

TEST_F(MainWindowActionsTest, MissingBundleKeyEndsWithCodeFourAndNoWindow) {
    util::BundleKeys::setExtraKeysForTesting({{util::Bundle::TOLVANE, "no.such.key.anywhere"}});
    open();
    EXPECT_EQ(exitCodes, std::vector<int>{4});
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].title, "Fatal error");
    EXPECT_EQ(messages->boxes[0].message,
              "Program files seem to be damaged or missing!\nTry downloading and reinstalling the "
              "program.");
    EXPECT_EQ(window->tabbedPane, nullptr);
    window->show();
    EXPECT_FALSE(window->isVisible());
    // Closing a window that never started writes no settings.
    window->close();
    EXPECT_FALSE(QFile::exists(prefs.file()));
}

TEST_F(MainWindowActionsTest, UnloadableSerialLibraryEndsWithCodeTwoAfterItsBox) {
    useSerialProperty("SK_OSNAME", "Plan 9");
    useSerialProperty("SK_OSARCH", "mips");
    open(QStringList{});
    EXPECT_EQ(exitCodes, std::vector<int>{2});
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::ERROR);
    EXPECT_EQ(messages->boxes[0].title, tolvane("fatal.error"));
    EXPECT_EQ(messages->boxes[0].message,
              tolvane("library.skwin.not.found.or.not.matching.your.system") +
                  " (Plan 9 mips)" + tolvane("program.will.now.exit"));
    window->show();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowActionsTest, CommandLinePortSkipsTheListing) {
    useSerialProperty("SERIAL_PORT_LIST", "/dev/ttyLISTED1:/dev/ttyLISTED2");
    open(QStringList{});
    EXPECT_FALSE(window->commandLinePort());
    EXPECT_EQ(window->offeredPorts(), (QStringList{"/dev/ttyLISTED1", "/dev/ttyLISTED2"}));
    EXPECT_EQ(window->portList->count(), 2);

    open();
    EXPECT_TRUE(window->commandLinePort());
    EXPECT_EQ(window->offeredPorts(), QStringList{QString::fromStdString(pty.slavePath())});
    ASSERT_EQ(window->portList->count(), 1);
    EXPECT_EQ(window->getConfig().getPort(), QString::fromStdString(pty.slavePath()));
    EXPECT_TRUE(messages->boxes.empty());

    // A network name too; a stored network port does not replace it.
    store([](config::Config& c) { c.setPort("rfc2217://stored.lab:2217"); });
    open(QStringList{"tcp://10.0.0.5:4001"});
    EXPECT_EQ(window->portList->currentText(), "tcp://10.0.0.5:4001");
    EXPECT_EQ(window->getConfig().getPort(), "tcp://10.0.0.5:4001");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(MainWindowActionsTest, NetworkPortNeedsNoSerialPortStaysAsTypedAndIsCheckedAtStart) {
    store([](config::Config& c) { c.setPort("rfc2217://scale-3.lab:2217"); });
    test::SimulatedPorts ports;
    open(QStringList{});
    // No serial port found, and no reason to say so.
    EXPECT_TRUE(messages->boxes.empty());
    EXPECT_EQ(window->portList->currentText(), "rfc2217://scale-3.lab:2217");
    ports.driver().addPort("/dev/ttyUSB0");
    const std::pair<const char*, const char*> rows[] = {
        {"  tcp://10.0.0.5:4001 ", nullptr},
        {"tcp://scale-3.lab", "the port number is missing (HOST:PORT)"},
        {"rfc2217://[::1]:99999", "\"99999\" is no port number (1-65535)"}};
    for (const auto& [typed, why] : rows) {
        const QString name = QString::fromLatin1(typed).trimmed();
        window->portList->setEditText(typed);
        window->pressRefresh();
        EXPECT_EQ(window->portList->count(), 1);
        EXPECT_EQ(window->portList->currentText(), name);
        if (why != nullptr) {
            // Refused before anything of a run is set up, and left to be corrected.
            window->pressStartStop();
            EXPECT_FALSE(window->isRunning());
            EXPECT_TRUE(tokensGiven.empty());
            ASSERT_EQ(messages->boxes.size(), 1u);
            EXPECT_EQ(messages->boxes[0].message,
                      util::Bundle::tolvane().format("invalid.network.port.0.1", {name, why}));
            messages->boxes.clear();
        }
        window->updateConfigFromTabs();
        EXPECT_EQ(window->getConfig().getPort(), name);
    }
    // With a listed port chosen, an empty list is worth a word.
    window->portList->setCurrentIndex(0);
    ports.driver().removePort("/dev/ttyUSB0");
    window->pressRefresh();
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].message,
              tolvane("no.rs.232.port.found.on.your.system.program.will.now.exit"));
}

TEST_F(MainWindowActionsTest, RefreshListsThePortsAgainAndKeepsTheChoiceWhenStillThere) {
    open();
    useSerialProperty("SERIAL_PORT_LIST", "/dev/ttyLISTED1:/dev/ttyLISTED2");
    window->pressRefresh();
    ASSERT_EQ(window->portList->count(), 2);
    EXPECT_EQ(window->portList->itemText(0), "/dev/ttyLISTED1");
    window->portList->setCurrentIndex(1);
    window->pressRefresh();
    EXPECT_EQ(window->portList->currentText(), "/dev/ttyLISTED2");
    window->updateConfigFromTabs();
    EXPECT_EQ(window->getConfig().getPort(), "/dev/ttyLISTED2");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(MainWindowActionsTest, AutoStartWithVanishedPreviousPortShowsItsMessageAndDoesNotStart) {
    store([](config::Config& c) {
        c.setPort("/dev/ttyGONE");
        c.setConnect(H::Connect::AUTO);
        c.abortAutoStartWhenPrevPortNotAvailable = true;
    });
    useSerialProperty("SERIAL_PORT_LIST", "/dev/ttyOTHER");
    open(QStringList{});
    EXPECT_FALSE(window->isRunning());
    EXPECT_FALSE(window->hasWorker());
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].title, tolvane("error"));
    EXPECT_EQ(messages->boxes[0].message,
              util::Bundle::substitute(
                  tolvane("previously.used.port.0.no.longer.available.naborting.auto.start"),
                  {"/dev/ttyGONE"}));
}

TEST_F(MainWindowActionsTest, AutoStartReadsAtOnceAndIconifiesWhenMinimizingToTray) {
    store([](config::Config& c) {
        c.setPort("/dev/ttyGONE");  // a command-line port is never checked against it
        c.setConnect(H::Connect::AUTO);
        c.abortAutoStartWhenPrevPortNotAvailable = true;
        c.minimizeToTray = true;
    });
    open();
    EXPECT_TRUE(window->isRunning());
    EXPECT_EQ(window->tabbedPane->count(), 3);
    EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(messages->boxes.empty());
    pty.write("8.5\r");
    waitForLines(1);
}

TEST_F(MainWindowActionsTest, StartUpAsksTheUpdateServerWhenDueAndShowsANewerVersion) {
    test::LocalHttpServer server;
    const QByteArray document = "<tolvane><version2>2099.1.0.0</version2></tolvane>\n";
    server.answer("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(document.size()) +
                  "\r\nConnection: close\r\n\r\n" + document);
    serialkit::SystemProperties::set("UPDATE_SERVER", server.base().toStdString());
    serialkit::SystemProperties::set("VERSION", "2017.1.0.2");
    updateDue = true;
    open();
    const QString newer = util::Bundle::tolvane().format("update.available", {server.base() + "/"});
    EXPECT_TRUE(waitFor([&] { return window->statusJLabel->originalText() == newer; }))
        << window->statusJLabel->originalText().toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().front().startsWith("GET /version.xml HTTP/1.1\r\n"));
}

TEST_F(MainWindowActionsTest, FinishedUpdateCheckGivesTheStatusLineBackToTheStateOfReading) {
    test::LocalHttpServer server;
    const QByteArray document = "<tolvane><version2>2017.1.0.2</version2></tolvane>\n";
    server.answer("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(document.size()) +
                  "\r\nConnection: close\r\n\r\n" + document);
    serialkit::SystemProperties::set("UPDATE_SERVER", server.base().toStdString());
    serialkit::SystemProperties::set("VERSION", "2017.1.0.2");
    const auto statusAfterACheck = [&] {
        util::UpdateWorker check(*window, server.base() + "/version.xml", "2017.1.0.2");
        check.start();
        EXPECT_TRUE(waitFor([&] { return check.isDone(); }));
        return window->statusJLabel->originalText();
    };
    // Auto start with the check of the start-up.
    store([](config::Config& c) {
        c.setConnect(H::Connect::AUTO);
        c.reconnect = false;
    });
    updateDue = true;
    open();
    ASSERT_TRUE(window->isRunning());
    ASSERT_TRUE(waitFor([&] { return window->updateCheckDone(); }));
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("switch.to.target.application"));

    pty.write("8.5\r");
    waitForLines(1);
    EXPECT_EQ(statusAfterACheck(), tolvane("line.count") + "1");
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return window->tabbedPane->count() == 7; }));
    const QString port = QString::fromStdString(pty.slavePath());
    EXPECT_EQ(statusAfterACheck(), util::Bundle::tolvane().format("connection.to.0.lost", {port}));
}

TEST_F(MainWindowActionsTest, NoUpdateCheckWhenNotDrawnOrSwitchedOff) {
    test::LocalHttpServer server;
    server.answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    serialkit::SystemProperties::set("UPDATE_SERVER", server.base().toStdString());
    const auto settle = [] {
        QDeadlineTimer wait(300);
        while (!wait.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    // Switched on, not drawn this time.
    open();
    settle();
    EXPECT_EQ(updateDraws, 1);
    window.reset();
    // Drawn, but switched off: the draw is not even made.
    updateDue = true;
    store([](config::Config& c) { c.checkForUpdates = false; });
    open();
    settle();
    EXPECT_EQ(updateDraws, 1);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_NE(window->statusJLabel->originalText(), tolvane("checking.for.update"));
}

TEST_F(MainWindowActionsTest, InvalidStoredSettingIsReportedAndReplaced) {
    prefs.write("com.varnholt.tolvane.sound=LOUD_BANG\n");
    open();
    const auto* box = boxWithTitle(tolvane("error.while.loading.settings"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->message, tolvane("invalid.settings.replaced.by.defaults"));
    EXPECT_EQ(window->getConfig().getSound(), S<H::Sound>::getDefault());
}

// --- saving ---

TEST_F(MainWindowActionsTest, AutosaveOnlyWhenChangedAndOnlyOnLeavingInputProcessingOutputAbout) {
    open();
    int saves = 0;
    prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting([&saves](const QString&) {
        ++saves;
        return true;
    });
    for (int page = 1; page < 7; ++page) {
        window->tabbedPane->setCurrentIndex(page);
        saves = 0;
        window->ignoreDuplicatesCheckBox->setChecked(!window->ignoreDuplicatesCheckBox->isChecked());
        window->tabbedPane->setCurrentIndex(0);
        const bool saving = page == 1 || page == 2 || page == 3 || page == 6;
        EXPECT_EQ(saves > 0, saving) << "leaving page " << page;
    }
    // Leaving the output page again without a change writes nothing.
    window->tabbedPane->setCurrentIndex(3);
    saves = 0;
    window->tabbedPane->setCurrentIndex(0);
    EXPECT_EQ(saves, 0);
    EXPECT_TRUE(messages->boxes.empty());

    // What was saved is what the window shows.
    config::Config loaded;
    config::ConfigStore().loadConfig(loaded, {});
    EXPECT_EQ(loaded.ignoreDuplicates, window->ignoreDuplicatesCheckBox->isChecked());
}

TEST_F(MainWindowActionsTest, FailedAutosaveShowsItsBox) {
    open();
    prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting([](const QString&) {
        return false;
    });
    window->tabbedPane->setCurrentIndex(2);
    window->ignoreDuplicatesCheckBox->setChecked(!window->ignoreDuplicatesCheckBox->isChecked());
    window->tabbedPane->setCurrentIndex(0);
    const auto* box = boxWithTitle(tolvane("error"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->message, tolvane("autosave.error"));
}

TEST_F(MainWindowActionsTest, ClosingSavesTheSettingsAndStopsReading) {
    open();
    window->keyboardTypeBox->select(H::KeyboardType::GERMAN);
    startReading();
    window->close();
    EXPECT_FALSE(window->isRunning());
    config::Config loaded;
    config::ConfigStore().loadConfig(loaded, {});
    EXPECT_EQ(loaded.getKeyboardType(), H::KeyboardType::GERMAN);
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(MainWindowActionsTest, FailedSaveOnClosingShowsItsBox) {
    open();
    prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting([](const QString&) {
        return false;
    });
    window->close();
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].message, tolvane("access.error.while.saving.settings"));

    // A full disk is called that, with the folder, not a permission problem.
    prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting(nullptr);
    prefs::FilePreferencesFactory::setWriteFailureForTesting(ENOSPC);
    window->show();
    window->close();
    ASSERT_EQ(messages->boxes.size(), 2u);
    EXPECT_EQ(messages->boxes[1].message,
              util::Bundle::tolvane().format(
                  "settings.not.saved.because.0.folder.1",
                  {"no space left on the device", QFileInfo(prefs.file()).absolutePath()}));
}

TEST_F(MainWindowActionsTest, ExportThenImportEndsWithCodeFour) {
    open();
    const QString file = prefs.dir() + "/tolvane.xml";
    window->keyboardTypeBox->select(H::KeyboardType::AZERTY);
    messages->chooseFile(file);
    window->pressExport();
    ASSERT_FALSE(support::readWholeFile(file).isEmpty());
    EXPECT_TRUE(support::readWholeFile(file).contains("AZERTY"));

    messages->chooseFile(file);
    messages->answer(true);
    window->pressImport();
    EXPECT_EQ(exitCodes, std::vector<int>{4});
}

// --- the other buttons ---

TEST_F(MainWindowActionsTest, DefaultButtonShowsTheNoteFirstThenSelectsThePresetLineSettings) {
    open();
    std::optional<H::Instrument> withNote;
    for (const auto instrument : S<H::Instrument>::values()) {
        if (config::InstrumentPresets::getDefaultMessage(instrument)) {
            withNote = instrument;
            break;
        }
    }
    ASSERT_TRUE(withNote);
    window->instrumentBox->select(*withNote);
    window->bitRateBox->setCurrentIndex(0);
    window->dataBitsBox->setCurrentIndex(0);
    window->getConfig().setInputTerminator(200);

    window->pressDefault();
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::INFORMATION);
    EXPECT_EQ(messages->boxes[0].title, "Info");
    EXPECT_EQ(messages->boxes[0].message, *config::InstrumentPresets::getDefaultMessage(*withNote));

    const config::Config preset = config::InstrumentPresets::getDefaultConfig(*withNote);
    EXPECT_EQ(S<H::BitRates>::position(window->bitRateBox->selected()), preset.getBitRate());
    EXPECT_EQ(S<H::DataBits>::position(window->dataBitsBox->selected()), preset.getDataBits());
    EXPECT_EQ(S<H::StopBits>::position(window->stopBitsBox->selected()), preset.getStopBits());
    EXPECT_EQ(S<H::Parity>::position(window->parityBox->selected()), preset.getParity());
    EXPECT_EQ(window->getConfig().getBitRate(), preset.getBitRate());
    EXPECT_EQ(window->getConfig().getInputTerminator(), preset.getInputTerminator());
}

TEST_F(MainWindowActionsTest, DialogsRunThroughTheWindowAndCancelChangesNothing) {
    open();
    window->getConfig().setCustomRegEx("([0-9]+)");
    window->pressAdjustIgnore();
    window->pressCustomize();
    EXPECT_EQ(window->dialogs, (std::vector<QString>{"quorvel::IgnoreDialog",
                                                     "quorvel::CustomRegExDialog"}));
    EXPECT_EQ(window->getConfig().getCustomRegEx(), "([0-9]+)");
}

}  // namespace
}  // namespace quorvel
