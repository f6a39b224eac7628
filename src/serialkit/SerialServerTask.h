#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serialkit/SerialConfig.h"

namespace serialkit {

class NativeSerial;
class SerialPortLocal;

// Runs the driver's server loop that "EPOC" needs before a port can open. The native side
// reports readiness by setting the port number of the task's record (non-zero); a failure
// keeps its message and sets that number to -1.
//
// The thread works on its own copy of the port's record and holds the driver alive, so it
// never touches the port object: a server loop that does not return when the port goes away
// is left running on its own instead of blocking the port's destruction.
class SerialServerTask {
  public:
    SerialServerTask(SerialPortLocal& port, std::shared_ptr<NativeSerial> native);
    ~SerialServerTask();
    SerialServerTask(const SerialServerTask&) = delete;
    SerialServerTask& operator=(const SerialServerTask&) = delete;

    // Starts the thread once; later calls do nothing.
    void start();
    // Sets the stop flag; the native loop decides itself when to end.
    void stop() { state_->stop.store(true); }
    bool isStopped() const { return state_->stop.load(); }
    // True from start() until the native loop returned.
    bool isAlive() const;
    bool hasFailed() const { return state_->failed.load(); }
    // The message of the failure that ended the loop, or "".
    std::string getMessage() const;
    // The port number the native side set in the task's record: 0 while not ready yet.
    int getPortNumber() const;
    SerialPortLocal& getPort() const { return port_; }

  private:
    struct State {
        explicit State(SerialConfig c) : config(std::move(c)) {}
        SerialConfig config;
        std::atomic<bool> stop{false};
        std::atomic<bool> started{false};
        std::atomic<bool> done{false};
        std::atomic<bool> failed{false};
        mutable std::mutex mutex;
        std::string message;
    };

    SerialPortLocal& port_;
    std::shared_ptr<NativeSerial> native_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace serialkit
