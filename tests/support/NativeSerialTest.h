#pragma once

#include <gtest/gtest.h>

#include "serialkit/SerialPortLocal.h"
#include "serialkit/SystemProperties.h"

namespace testsupport {

// A test on the platform's real serial driver (device paths and network names): no
// simulated-platform properties left over from another test, the library loaded afresh, skipped
// where there is no native driver.
class NativeSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"})
            serialkit::SystemProperties::remove(name);
        ::testing::internal::CaptureStdout();
        serialkit::SerialPortLocal::reinitialize();
        ::testing::internal::GetCapturedStdout();
        if (!serialkit::SerialPortLocal::isLibraryLoaded())
            GTEST_SKIP() << "no native serial driver on this platform";
    }
    void TearDown() override {
        for (const char* name : {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"})
            serialkit::SystemProperties::clear(name);
    }
};

}  // namespace testsupport
