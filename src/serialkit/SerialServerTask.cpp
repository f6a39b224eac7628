#include "serialkit/SerialServerTask.h"

#include <stdexcept>

#include "serialkit/NativeSerial.h"
#include "serialkit/SerialPortLocal.h"

namespace serialkit {

SerialServerTask::SerialServerTask(SerialPortLocal& port, std::shared_ptr<NativeSerial> native)
    : port_(port), native_(std::move(native)), state_(std::make_shared<State>(port.getConfig())) {}

SerialServerTask::~SerialServerTask() {
    if (!thread_.joinable()) {
        return;
    }
    if (state_->done.load()) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void SerialServerTask::start() {
    if (state_->started.exchange(true)) {
        return;
    }
    auto state = state_;
    auto native = native_;
    thread_ = std::thread([state, native] {
        // The thread priority is raised one step where the platform has thread priorities;
        // an ordinary Linux process has none to raise.
        std::string failure;
        int result = -1;
        try {
            if (native) {
                result = native->SerServerTask(state->config, failure);
            } else {
                failure = "no native library";
            }
        } catch (const std::exception& e) {
            failure = e.what();
            result = -1;
        }
        if (result != 0) {
            if (failure.empty()) {
                failure = "SerServerTask failed: " + std::to_string(result);
            }
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->message = failure;
                try {
                    state->config.setPortNum(-1);
                } catch (const std::invalid_argument&) {
                    // A record built for another platform refuses -1; the failed flag tells.
                }
            }
            state->failed.store(true);
        }
        state->done.store(true);
    });
}

bool SerialServerTask::isAlive() const {
    return state_->started.load() && !state_->done.load();
}

std::string SerialServerTask::getMessage() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->message;
}

int SerialServerTask::getPortNumber() const {
    if (state_->failed.load()) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->config.getPort();
}

}  // namespace serialkit
