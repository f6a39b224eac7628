#include "serialkit/FlowControlTask.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>

#include "serialkit/NativeSerial.h"
#include "serialkit/SerialPortLocal.h"

namespace serialkit {

namespace {

// Pause between two native calls so a driver whose flow service returns at once does not
// turn the loop into a busy spin.
constexpr std::chrono::milliseconds kCallPause{10};

}  // namespace

FlowControlTask::FlowControlTask(SerialPortLocal& port, std::shared_ptr<NativeSerial> native)
    : port_(port), native_(std::move(native)), handle_(port.getPortNum()) {
    std::cout << "FlowControlTask created" << std::endl;
}

FlowControlTask::~FlowControlTask() {
    join();
}

void FlowControlTask::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable() || stop_.load()) {
        return;
    }
    // One step above normal, as the flow service must keep pace with the line.
    priority_.store(std::min(priority_.load() + 1, MAX_PRIORITY));
    running_.store(true);
    thread_ = std::thread([this] { run(); });
}

void FlowControlTask::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
    }
    stopped_.notify_all();
}

void FlowControlTask::join() {
    stop();
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        thread.swap(thread_);
    }
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) {
        thread.join();
    } else if (thread.joinable()) {
        thread.detach();
    }
}

void FlowControlTask::setFlowPriority(int priority) {
    if (priority < MIN_PRIORITY || priority > MAX_PRIORITY) {
        throw std::invalid_argument("Invalid flow priority: " + std::to_string(priority));
    }
    priority_.store(priority);
}

void FlowControlTask::run() {
    while (!stop_.load()) {
        if (native_) {
            native_->SerFlowTask(handle_);
        }
        std::unique_lock<std::mutex> lock(mutex_);
        stopped_.wait_for(lock, kCallPause, [this] { return stop_.load(); });
    }
    running_.store(false);
}

}  // namespace serialkit
