// Which keystroke output the session gets, and that a Wayland session never ends on XTEST.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/platform/KeyboardOutput.h"
#include "serialkit/SystemProperties.h"

namespace {

using quorvel::platform::KeyboardOutput;
using serialkit::SystemProperties;
using Kind = KeyboardOutput::Kind;

// Sets the two properties for one case (nothing: hidden, also from the environment) and gives
// the environment back afterwards.
class Session {
  public:
    Session(std::optional<std::string> wayland, std::optional<std::string> forced) {
        apply("WAYLAND_DISPLAY", wayland);
        apply("KEYBOARD_OUTPUT", forced);
    }
    ~Session() {
        SystemProperties::clear("WAYLAND_DISPLAY");
        SystemProperties::clear("KEYBOARD_OUTPUT");
    }

  private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            SystemProperties::set(name, *value);
        } else {
            SystemProperties::remove(name);
        }
    }
};

TEST(KeyboardOutputTest, ChoosesBySessionUnlessForced) {
    struct Row {
        std::optional<std::string> wayland;
        std::optional<std::string> forced;
        std::vector<Kind> expected;
    };
    const std::vector<Row> rows = {
        {std::nullopt, std::nullopt, {Kind::X11}},
        {"", std::nullopt, {Kind::X11}},
        {"wayland-0", std::nullopt, {Kind::VIRTUAL_KEYBOARD, Kind::PORTAL}},
        {"wayland-0", "x11", {Kind::X11}},
        {"wayland-0", "portal", {Kind::PORTAL}},
        {std::nullopt, "virtual-keyboard", {Kind::VIRTUAL_KEYBOARD}},
    };
    for (const Row& row : rows) {
        const Session session(row.wayland, row.forced);
        EXPECT_EQ(KeyboardOutput::choose(), row.expected)
            << row.wayland.value_or("(unset)") << " / " << row.forced.value_or("(unset)");
    }
    const Session session("wayland-0", "xtest");
    EXPECT_THROW(KeyboardOutput::choose(), std::invalid_argument);
    try {
        KeyboardOutput::open(QString());
        FAIL() << "an unknown KEYBOARD_OUTPUT opened an output";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("x11, portal or virtual-keyboard"), std::string::npos)
            << e.what();
    }
}

}  // namespace
