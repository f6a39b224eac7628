#pragma once

#include <QString>

#include "quorvel/worker/DataLine.h"

namespace quorvel::worker {

// What a reading worker calls on the main window.
class WeightWorkerView {
public:
    virtual ~WeightWorkerView() = default;

    // May be called from any thread; the view keeps their order.
    virtual void eventLogAppend(const QString& text) = 0;
    virtual void logImportantEvent(const QString& text) = 0;
    // User-interface thread only.
    virtual void setConnectedInGUI(bool connected) = 0;
    virtual void processDataLine(DataLine& dataLine) = 0;
    // A warning box over the view (user-interface thread).
    virtual void showWarning(const QString& title, const QString& message) = 0;
    // The port went away while reading (unplugged, driver gone): `port` as configured and the
    // port layer's reason. User-interface thread, once, just before the disconnected state.
    virtual void deviceLost(const QString& port, const QString& reason) {
        (void)port;
        (void)reason;
    }
    // With `reconnect`: the port went away while reading and the connection waits for it
    // (`port` as configured), then the device is back and reading goes on. User-interface
    // thread, in order with the lines.
    virtual void waitingForDevice(const QString& port) { (void)port; }
    virtual void deviceBack(const QString& port) { (void)port; }
};

}  // namespace quorvel::worker
