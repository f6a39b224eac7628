#include "quorvel/worker/WeightWorker.h"

#include <QMetaObject>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/NetworkPorts.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialConfig.h"

namespace quorvel::worker {

using config::ConfigHelper;
using config::Setting;
using util::Bundle;

namespace {

// Most instrument lines are shorter than this.
constexpr qsizetype kInitialBufferCapacity = 30;
// Far above any instrument line; without a bound a wrong line-end setting piles bytes up for
// as long as the connection runs.
constexpr qsizetype kMaxLineBytes = 64 * 1024;
// Longest idle wait: a cancellation wakes the wait at once, so this only bounds how often an
// idle connection looks up.
constexpr int kIdleWaitMs = 500;
// How often a wait for a lost device looks for it; a stop ends the wait at once.
constexpr std::chrono::milliseconds kDeviceCheckInterval{500};
// How long writing a request may wait for the line to take it.
constexpr int kRequestWriteTimeoutMs = 1000;
constexpr int kRequestWriteMsPerByte = 20;

const QString kLineErrorPrefix = QStringLiteral("Error [WW]: ");

QString describe(const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    return text.isNull() ? QString("") : text;
}

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

// The setting's text form; a code outside the table (a literal bit rate) as the number.
template <typename E>
QString labelOrNumber(int code) {
    return Setting<E>::isValid(code) ? Setting<E>::labelOfCode(code) : QString::number(code);
}

}  // namespace

WeightWorker::WeightWorker(WeightWorkerView& view, config::Config config)
    : view_(view), config_(std::move(config)), receiver_(std::make_unique<QObject>()) {
    buffer_.reserve(kInitialBufferCapacity);

    const QString portName = config_.getPort();
    if (portName.isEmpty())
        throw std::invalid_argument(Bundle::worker().getString("null.port.error").toStdString());

    serialkit::SerialConfig serial(portName.toStdString());
    serial.setBitRate(config_.getBitRate());
    serial.setDataBits(config_.getDataBits());
    serial.setParity(config_.getParity());
    serial.setStopBits(config_.getStopBits());
    port_ = std::make_unique<serialkit::SerialPortLocal>(serial);

    bool shownConnected = false;
    try {
        view_.setConnectedInGUI(true);
        shownConnected = true;
        announceOpen();
        // Which device this is, looked up while it is surely there.
        if (config_.reconnect)
            finder_.emplace(portName);
    } catch (...) {
        // An opening failure leaves nothing open and the window not showing a connection.
        port_.reset();
        if (shownConnected)
            view_.setConnectedInGUI(false);
        throw;
    }
}

void WeightWorker::announceOpen() {
    // Whatever the instrument sent before we listened belongs to no line of ours.
    port_->rxFlush();
    port_->setRTS(false);
    port_->setDTR(true);
    const bool dsr = port_->sigDSR();
    const bool cts = port_->sigCTS();
    // Logged once the port is fully set up, so a reopening that fails half way says nothing.
    view_.eventLogAppend(Bundle::worker().format(
        "port.opened", {QString::fromStdString(port_->getPortName()),
                        labelOrNumber<ConfigHelper::BitRates>(port_->getBitRate()),
                        labelOrNumber<ConfigHelper::DataBits>(port_->getDataBits()),
                        labelOrNumber<ConfigHelper::StopBits>(port_->getStopBits()),
                        labelOrNumber<ConfigHelper::Parity>(port_->getParity())}));
    view_.eventLogAppend(
        QStringLiteral("RTS: off, DTR: on. DSR: %1, CTS: %2.").arg(onOff(dsr), onOff(cts)));
}

WeightWorker::~WeightWorker() {
    {
        // Queued deliveries die with the receiver; the loop posts nothing once it is gone.
        std::lock_guard lock(mailboxLock_);
        receiver_.reset();
    }
    cancelled_.store(true);
    if (port_)
        port_->wakeUp();
    wakeWait();
    if (thread_.joinable())
        thread_.join();
    port_.reset();
}

std::unique_ptr<LineProcessor> WeightWorker::prepare() {
    return std::make_unique<LineProcessor>(config_, LineProcessor::Mode::NUMBER);
}

QString WeightWorker::parityErrorText() const {
    return Bundle::worker().getString("parity.error");
}

QString WeightWorker::framingErrorText() const {
    return Bundle::worker().getString("framing.error");
}

void WeightWorker::start() {
    if (started_ || done_ || cancelled_.load())
        return;
    started_ = true;
    parityText_ = parityErrorText();
    framingText_ = framingErrorText();
    requestCommand_ = requestCommandFor(config_);
    try {
        processor_ = prepare();
        if (!processor_)
            throw std::logic_error("No line processing was prepared");
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception& e) {
        // Ends before the first byte; the completion reports why.
        processor_.reset();
        loopFailure_ = describe(e);
        postCompletion();
    }
}

void WeightWorker::cancel() {
    if (done_)
        return;
    cancelled_.store(true);
    if (port_)
        port_->wakeUp();
    wakeWait();
    if (!started_) {
        // Never started: no loop will post the completion, so post it here.
        started_ = true;
        postCompletion();
    }
}

void WeightWorker::wakeWait() {
    // Taking the lock orders the stop before the waiter's next look at it.
    { std::lock_guard lock(waitLock_); }
    waitSignal_.notify_all();
}

void WeightWorker::run() {
    try {
        while (loop()) {
        }
    } catch (const std::exception& e) {
        loopFailure_ = describe(e);
    }
    // Last thing the thread does, so the completion is queued behind every line.
    postCompletion();
}

bool WeightWorker::loop() {
    const bool askParity = serialkit::SerialPortLocal::isSupported("sigParityErr");
    const bool askFraming = serialkit::SerialPortLocal::isSupported("sigFrameErr");
    const int terminator = config_.getInputTerminator();
    // A connection after a loss starts afresh: a request made while the device was away is
    // dropped rather than answered into whatever window has the focus by then, and a failing
    // write is worth saying again. The first keeps a request made right after the start.
    if (connections_++ > 0) {
        requestPending_.store(false);
        requestFailureLogged_ = false;
    }
    try {
        // Checked per byte so that a continuous stream cannot hold off a stop.
        while (!cancelled_.load()) {
            if (requestPending_.exchange(false))
                sendRequest();
            const int byte = port_->getByte();
            if (byte < 0) {
                port_->waitForData(kIdleWaitMs);
                continue;
            }
            buffer_.append(QChar(static_cast<char16_t>(byte)));
            if (askParity && port_->sigParityErr()) {
                view_.logImportantEvent(parityText_);
                lineError_ = true;
            }
            if (askFraming && port_->sigFrameErr()) {
                view_.logImportantEvent(framingText_);
                lineError_ = true;
            }
            if (byte == terminator)
                processLine(*processor_);
            else if (buffer_.size() >= kMaxLineBytes)
                dropRunawayLine(terminator);
        }
    } catch (const serialkit::IOException& e) {
        // The device is gone; the completion reports it like any failure that ends the loop.
        // During a stop the failure is only a side effect of it.
        if (cancelled_.load()) {
            view_.logImportantEvent(kLineErrorPrefix + describe(e));
        } else if (finder_) {
            // With `reconnect` the connection outlives the device.
            return awaitDevice(describe(e));
        } else {
            loopFailure_ = describe(e);
            deviceLost_ = true;
        }
    } catch (const std::exception& e) {
        loopFailure_ = describe(e);
    }
    return false;
}

bool WeightWorker::awaitDevice(const QString& reason) {
    view_.logImportantEvent(kLineErrorPrefix + reason);
    // A line cut off by the loss never gets its end; the device starts afresh.
    discardUnfinishedLine();
    try {
        port_->close();
    } catch (const std::exception&) {
        // The port counts as closed whatever the gone device answered.
    }
    const QString port = config_.getPort();
    post(PortNotice{false, port});
    bool refusalLogged = false;
    for (;;) {
        {
            std::unique_lock lock(waitLock_);
            if (waitSignal_.wait_for(lock, kDeviceCheckInterval,
                                     [this] { return cancelled_.load(); }))
                return false;
        }
        const std::optional<QString> where = finder_->whereNow();
        if (!where)
            continue;
        try {
            reopen(*where);
        } catch (const std::exception& e) {
            if (cancelled_.load())
                return false;  // a stop ended the attempt
            // Back but not ready yet (permissions still being set, another program has it):
            // said once, then tried again at each look.
            if (!refusalLogged) {
                refusalLogged = true;
                // A device server is never seen to be back: only the connection tells.
                const char* key = util::NetworkPorts::isNetworkName(*where)
                                      ? "server.unanswered"
                                      : "device.back.unopened";
                view_.logImportantEvent(Bundle::worker().format(key, {*where, describe(e)}));
            }
            continue;
        }
        if (!cancelled_.load())
            post(PortNotice{true, port});
        return true;
    }
}

void WeightWorker::reopen(const QString& where) {
    if (QString::fromStdString(port_->getPortName()) != where)
        port_->setPortName(where.toStdString());
    port_->open();
    try {
        announceOpen();
    } catch (...) {
        try {
            port_->close();
        } catch (const std::exception&) {
            // Closed all the same.
        }
        throw;
    }
}

QByteArray WeightWorker::requestCommandFor(const config::Config& config) {
    if (!config.requestCommand.isEmpty())
        return ConfigHelper::RequestCommand::decode(config.requestCommand).value_or(QByteArray());
    const auto instrument = config.getInstrument();
    return instrument ? config::InstrumentPresets::getDataCommand(*instrument).toLatin1()
                      : QByteArray();
}

void WeightWorker::requestReading() {
    // The command is fixed by start() before the loop exists; without one (or before the
    // start) there is nothing to send.
    if (requestCommand_.isEmpty())
        return;
    requestPending_.store(true);
    if (port_)
        port_->wakeUp();
}

void WeightWorker::sendRequest() {
    try {
        // Bounded: a line that takes no bytes (output held up) must not stall the reading for
        // long. Plenty for a short command at the slowest line speeds.
        port_->setTimeoutTx(kRequestWriteTimeoutMs +
                            static_cast<int>(requestCommand_.size()) * kRequestWriteMsPerByte);
        port_->putData(std::span(reinterpret_cast<const std::uint8_t*>(requestCommand_.constData()),
                                 static_cast<std::size_t>(requestCommand_.size())));
    } catch (const std::exception& e) {
        // The same cause would fill the log at every request; once per connection says it.
        if (!requestFailureLogged_) {
            requestFailureLogged_ = true;
            view_.logImportantEvent(Bundle::worker().format("request.failed", {describe(e)}));
        }
    }
}

void WeightWorker::processLine(LineProcessor& processor) {
    const int number = ++number_;
    lineCount_.store(number);
    const DataLine::Instant instant = DataLine::Clock::now();
    const bool error = lineError_;
    lineError_ = false;

    QString raw = std::exchange(buffer_, QString());
    buffer_.reserve(kInitialBufferCapacity);
    try {
        LineProcessor::Outcome outcome = processor.evaluate(raw);
        const bool unstable = outcome.stability == config::Stability::UNSTABLE;
        QString remark;
        bool skipped = false;
        if (!outcome.reason.isEmpty()) {
            remark = Bundle::worker().getString(outcome.reason);
        } else if (unstable && config_.stableOnly && !outcome.value.isEmpty()) {
            // Shown, grey, but never typed: the instrument said the pan was still moving.
            outcome.value = QString("");
            skipped = true;
            remark = Bundle::worker().getString(QStringLiteral("reading.unstable.skipped"));
        }
        DataLine line(std::move(raw), std::move(outcome.value), number, instant, error);
        line.setUnstable(unstable);
        line.setSkippedAsUnstable(skipped);
        line.setRemark(std::move(remark));
        publish(std::move(line));
    } catch (const std::exception& e) {
        // The line is lost but keeps its number; reading goes on.
        view_.logImportantEvent(kLineErrorPrefix + describe(e));
    }
}

void WeightWorker::discardUnfinishedLine() {
    if (!buffer_.isEmpty()) {
        view_.logImportantEvent(Bundle::worker().getString("unsent.data") + QStringLiteral(" ") +
                                DataLine::transformControlChars(buffer_));
        buffer_.clear();
    }
    lineError_ = false;
}

void WeightWorker::dropRunawayLine(int terminator) {
    // Said once per connection: the cause is a setting, not the line.
    if (!runawayReported_) {
        runawayReported_ = true;
        view_.logImportantEvent(Bundle::worker().format(
            "line.end.missing",
            {QString::number(kMaxLineBytes), QString::number(terminator)}));
    }
    buffer_.clear();
    lineError_ = false;
}

void WeightWorker::publish(DataLine line) {
    post(std::move(line));
}

void WeightWorker::post(std::variant<DataLine, PortNotice> mail) {
    std::lock_guard lock(mailboxLock_);
    if (!receiver_)
        return;
    const bool wasEmpty = mailbox_.empty();
    mailbox_.push_back(std::move(mail));
    // One queued drain per batch; a drain that is already queued or running takes this line too.
    if (wasEmpty)
        QMetaObject::invokeMethod(
            receiver_.get(), [this] { deliver(); }, Qt::QueuedConnection);
}

void WeightWorker::deliver() {
    // One line at a time, so a view that spins a nested event loop still sees them in order.
    for (;;) {
        std::optional<std::variant<DataLine, PortNotice>> next;
        {
            std::lock_guard lock(mailboxLock_);
            if (mailbox_.empty())
                return;
            next.emplace(std::move(mailbox_.front()));
            mailbox_.pop_front();
        }
        if (auto* line = std::get_if<DataLine>(&*next)) {
            view_.processDataLine(*line);
        } else if (const auto& notice = std::get<PortNotice>(*next); notice.back) {
            view_.deviceBack(notice.port);
        } else {
            view_.waitingForDevice(notice.port);
        }
    }
}

void WeightWorker::postCompletion() {
    std::lock_guard lock(mailboxLock_);
    if (receiver_)
        QMetaObject::invokeMethod(
            receiver_.get(), [this] { complete(); }, Qt::QueuedConnection);
}

void WeightWorker::complete() {
    if (done_)
        return;
    done_ = true;
    // The loop has posted this as its last act; after the join the buffer and the port are ours.
    if (thread_.joinable())
        thread_.join();
    // Lines still waiting (a nested event loop in the view can get here first) come before the
    // closing messages.
    deliver();

    if (!loopFailure_.isNull()) {
        view_.logImportantEvent(Bundle::worker().getString("execution.exception") + loopFailure_);
    } else if (cancelled_.load()) {
        view_.eventLogAppend(Bundle::worker().getString("stopped"));
    }
    discardUnfinishedLine();
    try {
        if (port_->isOpen())
            port_->close();
    } catch (const std::exception& e) {
        view_.logImportantEvent(kLineErrorPrefix + describe(e));
    }
    if (deviceLost_)
        view_.deviceLost(config_.getPort(), loopFailure_);
    // Last: the window may drop this worker in response.
    view_.setConnectedInGUI(false);
}

}  // namespace quorvel::worker
