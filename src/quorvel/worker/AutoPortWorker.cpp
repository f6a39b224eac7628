#include "quorvel/worker/AutoPortWorker.h"

#include <QMetaObject>

#include <exception>
#include <utility>

#include "quorvel/util/Bundle.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialConfig.h"

namespace quorvel::worker {

using serialkit::SerialConfig;
using util::Bundle;

namespace {

QString describe(const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    return text.isNull() ? QString("") : text;
}

// This port is the onboard modem on many machines, which raises DSR and CTS like an
// instrument would, so it never earns full confidence.
const QString kModemPort = QStringLiteral("COM3");

}  // namespace

AutoPortWorker::AutoPortWorker(AutoPortWorkerView& view, QStringList ports,
                               std::chrono::milliseconds settleTime)
    : view_(view),
      ports_(std::move(ports)),
      settleTime_(settleTime),
      receiver_(std::make_unique<QObject>()) {}

AutoPortWorker::~AutoPortWorker() {
    {
        std::lock_guard lock(mailboxLock_);
        receiver_.reset();
    }
    {
        std::lock_guard lock(waitLock_);
        cancelled_.store(true);
    }
    waitWake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    currentPort_.reset();
}

void AutoPortWorker::start() {
    if (started_ || done_ || cancelled_.load())
        return;
    started_ = true;
    try {
        thread_ = std::thread([this] { scan(); });
    } catch (const std::exception& e) {
        failure_ = describe(e);
        finished_.store(true);
        postCompletion();
    }
}

void AutoPortWorker::cancel() {
    if (done_ || finished_.load() || cancelled_.load())
        return;
    {
        std::lock_guard lock(waitLock_);
        cancelled_.store(true);
    }
    waitWake_.notify_all();
    // The completion does not wait for the scan to reach its end.
    postCompletion();
}

bool AutoPortWorker::settle() {
    std::unique_lock lock(waitLock_);
    return !waitWake_.wait_for(lock, settleTime_, [this] { return cancelled_.load(); });
}

void AutoPortWorker::scan() {
    try {
        report(Bundle::worker().getString("auto.port.detection.started"));
        for (const QString& portName : ports_) {
            if (cancelled_.load())
                break;
            currentPortConfidence_ = 0;
            report(Bundle::worker().format("testing.port.0", {portName}));
            std::optional<int> confidence;
            try {
                confidence = probe(portName);
            } catch (const serialkit::IOException& e) {
                // In use elsewhere, gone, or not answering: this port is out, the others not.
                releasePort();
                report(describe(e));
                continue;
            }
            if (!confidence)
                break;
            currentPortConfidence_ = *confidence;
            // Strictly greater: on a tie the earlier port stays.
            if (currentPortConfidence_ > bestPortConfidence_) {
                bestPortName_ = portName;
                bestPortConfidence_ = currentPortConfidence_;
            }
            report(Bundle::worker().getString("confidence") + QStringLiteral(" ") +
                   QString::number(currentPortConfidence_));
        }
    } catch (const std::exception& e) {
        failure_ = describe(e);
    }
    // A cancelled scan may end long after its completion was shown (a driver call cannot be
    // interrupted), so it lets go of its port itself.
    releasePort();
    finished_.store(true);
    // Last thing the thread does, so the completion is queued behind every progress text.
    if (!cancelled_.load())
        postCompletion();
}

void AutoPortWorker::releasePort() {
    if (!currentPort_)
        return;
    try {
        if (currentPort_->isOpen())
            currentPort_->close();
    } catch (const std::exception&) {
        // Closing is all that is left to do with this port; a failure changes nothing.
    }
    currentPort_.reset();
}

std::optional<int> AutoPortWorker::probe(const QString& portName) {
    SerialConfig config(portName.toStdString());
    config.setBitRate(SerialConfig::BR_9600);
    config.setDataBits(SerialConfig::LN_8BITS);
    config.setParity(SerialConfig::PY_NONE);
    config.setStopBits(SerialConfig::ST_1BITS);
    currentPort_ = std::make_unique<serialkit::SerialPortLocal>(config);
    serialkit::SerialPortLocal& port = *currentPort_;
    port.setDTR(false);
    port.setRTS(false);
    if (!settle())
        return std::nullopt;

    int confidence = 0;
    if (port.sigDSR()) {
        port.setDTR(true);
        port.setRTS(true);
        if (!settle())
            return std::nullopt;
        if (port.sigDSR() && port.sigCTS())
            confidence = portName == kModemPort ? 1 : 3;
        else
            confidence = 1;
    } else {
        port.setDTR(true);
        if (!settle())
            return std::nullopt;
        if (port.sigDSR()) {
            port.setRTS(true);
            if (!settle())
                return std::nullopt;
            confidence = port.sigDSR() && port.sigCTS() ? 2 : 1;
        } else {
            port.setRTS(true);
            if (!settle())
                return std::nullopt;
            confidence = port.sigCTS() ? 1 : 0;
        }
    }
    port.setDTR(false);
    port.setRTS(false);
    port.close();
    currentPort_.reset();
    return confidence;
}

void AutoPortWorker::report(const QString& text) {
    std::lock_guard lock(mailboxLock_);
    // After a cancellation the completion has the last word; the scan's stragglers are dropped.
    if (!receiver_ || cancelled_.load())
        return;
    const bool wasEmpty = mailbox_.empty();
    mailbox_.push_back(text);
    // One queued drain per batch; a drain already queued or running takes this text too.
    if (wasEmpty)
        QMetaObject::invokeMethod(
            receiver_.get(), [this] { deliver(); }, Qt::QueuedConnection);
}

void AutoPortWorker::deliver() {
    for (;;) {
        QString next;
        {
            std::lock_guard lock(mailboxLock_);
            if (mailbox_.empty())
                return;
            next = std::move(mailbox_.front());
            mailbox_.pop_front();
        }
        view_.appendMessage(next, AutoPortWorkerView::Emphasis::NONE);
    }
}

void AutoPortWorker::postCompletion() {
    std::lock_guard lock(mailboxLock_);
    if (receiver_)
        QMetaObject::invokeMethod(
            receiver_.get(), [this] { complete(); }, Qt::QueuedConnection);
}

void AutoPortWorker::complete() {
    if (done_)
        return;
    done_ = true;
    const bool cancelled = cancelled_.load();
    // A scan that has ended leaves its fields to us once joined. A cancelled one may still be
    // inside a driver call: the result is shown now, and the scan closes its port when it
    // returns, so the window never waits on the driver.
    const bool scanEnded = finished_.load();
    if (scanEnded && thread_.joinable())
        thread_.join();
    // Progress still waiting comes before the result.
    deliver();

    if (!cancelled && scanEnded && failure_.isNull())
        result_ = bestPortName_;

    view_.setButtonToClose();
    if (result_) {
        view_.setDetectedPort(*result_);
        view_.appendMessage(
            Bundle::worker().getString("best.port") + QStringLiteral(" ") + *result_,
            AutoPortWorkerView::Emphasis::STRONG);
    } else {
        view_.appendMessage(Bundle::worker().getString("could.not.auto.detect.port"),
                            AutoPortWorkerView::Emphasis::STRONGER);
    }
    if (cancelled) {
        view_.appendMessage(Bundle::worker().getString("stopped"),
                            AutoPortWorkerView::Emphasis::NONE);
    } else if (scanEnded && !failure_.isNull()) {
        view_.appendMessage(Bundle::worker().getString("execution.exception") + failure_,
                            AutoPortWorkerView::Emphasis::NONE);
    }
    if (scanEnded)
        releasePort();
}

}  // namespace quorvel::worker
