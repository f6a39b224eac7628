#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::test {

// While it lives, the serial layer runs on the simulated driver as on Linux, so a test can
// give each port modem lines of its own. Destruction brings back the real driver.
class SimulatedPorts {
  public:
    using Lines = serialkit::SimulatedSerial::ModemLines;

    SimulatedPorts() : sim_(std::make_shared<serialkit::SimulatedSerial>()) {
        for (const char* name : kProperties) serialkit::SystemProperties::remove(name);
        serialkit::SystemProperties::set("SK_OSNAME", "Linux");
        serialkit::SystemProperties::set("SK_OSARCH", "amd64");
        quietly([] { serialkit::SerialPortLocal::reinitialize(); });
        serialkit::SerialPortLocal::useNative(sim_);
    }
    ~SimulatedPorts() {
        for (const char* name : kProperties) serialkit::SystemProperties::clear(name);
        quietly([] { serialkit::SerialPortLocal::reinitialize(); });
    }
    SimulatedPorts(const SimulatedPorts&) = delete;
    SimulatedPorts& operator=(const SimulatedPorts&) = delete;

    // A port whose DSR and CTS answer as the given functions of DTR and RTS.
    void addPort(const std::string& name, serialkit::SimulatedSerial::LineFunction dsr,
                 serialkit::SimulatedSerial::LineFunction cts) {
        sim_->addPort(name);
        sim_->setDsrFunction(name, std::move(dsr));
        sim_->setCtsFunction(name, std::move(cts));
    }

    serialkit::SimulatedSerial& driver() { return *sim_; }

  private:
    static constexpr const char* kProperties[] = {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"};

    // The serial layer greets on standard output when it starts.
    template <typename Fn>
    static void quietly(Fn&& fn) {
        ::testing::internal::CaptureStdout();
        fn();
        ::testing::internal::GetCapturedStdout();
    }

    std::shared_ptr<serialkit::SimulatedSerial> sim_;
};

}  // namespace quorvel::test
