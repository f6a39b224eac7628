#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace serialkit {

class NativeSerial;
class SerialPortLocal;

// Keeps the driver's software-assisted hardware flow control running for one open port
// ("Windows 95" only): a thread that calls the native flow service over and over.
//
// Stopping is cooperative: the loop ends after the current native call. Unlike a detached
// helper, the destructor also waits for the thread, so the task never outlives its port.
class FlowControlTask {
  public:
    static constexpr int MIN_PRIORITY = 1;
    static constexpr int NORM_PRIORITY = 5;
    static constexpr int MAX_PRIORITY = 10;

    // Remembers the port and its current handle; prints "FlowControlTask created".
    FlowControlTask(SerialPortLocal& port, std::shared_ptr<NativeSerial> native);
    ~FlowControlTask();
    FlowControlTask(const FlowControlTask&) = delete;
    FlowControlTask& operator=(const FlowControlTask&) = delete;

    // Starts the thread once; later calls do nothing.
    void start();
    // Asks the loop to end; returns at once.
    void stop();
    // Stops and waits for the thread to end.
    void join();
    bool isAlive() const { return running_.load(); }
    bool isStopped() const { return stop_.load(); }

    int getHandle() const { return handle_; }
    SerialPortLocal& getPort() const { return port_; }
    // Thread priority on the 1..10 scale. The value is kept and reported; the scheduler of
    // an ordinary Linux process has no priorities to map it to, so there it changes nothing.
    int getFlowPriority() const { return priority_.load(); }
    // Throws std::invalid_argument outside 1..10.
    void setFlowPriority(int priority);

  private:
    void run();

    std::atomic<bool> stop_{false};
    SerialPortLocal& port_;
    std::shared_ptr<NativeSerial> native_;
    int handle_;
    std::atomic<int> priority_{NORM_PRIORITY};
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::thread thread_;
};

}  // namespace serialkit
