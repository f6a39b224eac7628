#include "SimOptions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using tools::parseReaderOptions;
using tools::parseSimOptions;
using Args = std::vector<std::string>;

TEST(SimOptionsReadable, ShowsControlAndHighBytesAsCodes) {
    EXPECT_EQ(tools::readableBytes("ST,GS  12.50 kg\r"), "ST,GS  12.50 kg<13>");
    EXPECT_EQ(tools::readableBytes(std::string("\0\n\x1f \x7e\x7f\xff", 7)),
              "<0><10><31> ~<127><255>");
    EXPECT_EQ(tools::readableBytes(""), "");
}

TEST(SimOptionsTerminator, AcceptsByteValuesAndNames) {
    EXPECT_EQ(tools::parseTerminator("13"), "\r");
    EXPECT_EQ(tools::parseTerminator("0"), std::string(1, '\0'));
    EXPECT_EQ(tools::parseTerminator("255"), "\xff");
    EXPECT_EQ(tools::parseTerminator("cr"), "\r");
    EXPECT_EQ(tools::parseTerminator("LF"), "\n");
    EXPECT_EQ(tools::parseTerminator("crlf"), "\r\n");
    EXPECT_EQ(tools::parseTerminator("none"), "");
    for (const char* bad : {"256", "-1", "", "13x", " 13", "tab", "+5"}) {
        EXPECT_THROW(tools::parseTerminator(bad), std::invalid_argument) << bad;
    }
}

TEST(SimOptionsTerminator, ReaderWantsOneByte) {
    EXPECT_EQ(tools::parseTerminatorByte("10"), 10);
    EXPECT_EQ(tools::parseTerminatorByte("cr"), 13);
    EXPECT_THROW(tools::parseTerminatorByte("crlf"), std::invalid_argument);
    EXPECT_THROW(tools::parseTerminatorByte("none"), std::invalid_argument);
    EXPECT_THROW(tools::parseTerminatorByte("300"), std::invalid_argument);
}

TEST(SimOptionsEscapes, TranslatesKnownEscapesAndRejectsOthers) {
    EXPECT_EQ(tools::unescape("a\\r\\n\\t\\\\b\\x41\\x0d"), "a\r\n\t\\bA\r");
    EXPECT_EQ(tools::unescape("C:/no/escapes here"), "C:/no/escapes here");
    EXPECT_EQ(tools::unescape("\\x00"), std::string(1, '\0'));
    for (const char* bad : {"\\q", "end\\", "\\x4", "\\xZZ", "\\x"}) {
        EXPECT_THROW(tools::unescape(bad), std::invalid_argument) << bad;
    }
}

TEST(SimOptionsParse, DefaultsForThePseudoTerminal) {
    auto o = parseSimOptions({"--line", "x"});
    EXPECT_EQ(o.intervalMs, 1000);
    EXPECT_EQ(o.repeat, 1);
    EXPECT_EQ(o.terminatorBytes(), "\r");
    EXPECT_TRUE(o.device.empty());
    EXPECT_TRUE(o.waitsForReader());
    EXPECT_FALSE(o.quiet);
}

TEST(SimOptionsParse, ReadsValuesInBothForms) {
    auto o = parseSimOptions({"--line=a=b", "--interval", "0", "--repeat=0", "--terminator", "crlf",
                              "--device", "/dev/ttyS0", "--baud=2400", "-q"});
    ASSERT_EQ(o.sources.size(), 1u);
    EXPECT_EQ(o.sources[0].text, "a=b");
    EXPECT_EQ(o.intervalMs, 0);
    EXPECT_EQ(o.repeat, 0);
    EXPECT_EQ(o.terminatorBytes(), "\r\n");
    EXPECT_EQ(o.device, "/dev/ttyS0");
    EXPECT_EQ(o.baud, 2400);
    EXPECT_TRUE(o.quiet);
    // A device is not ours to watch for readers.
    EXPECT_FALSE(o.waitsForReader());
}

TEST(SimOptionsParse, KeepsLinesAndFilesInCommandLineOrder) {
    auto o = parseSimOptions({"--line", "one", "--file", "f.txt", "--line", "two"});
    ASSERT_EQ(o.sources.size(), 3u);
    EXPECT_FALSE(o.sources[0].fromFile);
    EXPECT_TRUE(o.sources[1].fromFile);
    EXPECT_EQ(o.sources[1].text, "f.txt");
    EXPECT_EQ(o.sources[2].text, "two");
}

TEST(SimOptionsParse, PresetGivesLinesAndTerminatorUnlessOverridden) {
    auto preset = parseSimOptions({"--preset", "scale"});
    auto lines = tools::loadLines(preset);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "ST,GS  12.50 kg");
    EXPECT_EQ(preset.terminatorBytes(), "\r");

    auto own = parseSimOptions({"--preset", "scale", "--line", "mine", "--terminator", "lf"});
    EXPECT_EQ(tools::loadLines(own), std::vector<std::string>{"mine"});
    EXPECT_EQ(own.terminatorBytes(), "\n");
}

TEST(SimOptionsParse, RejectsBadArguments) {
    const std::vector<Args> bad = {
        {},
        {"--repeat", "2"},
        {"--line"},
        {"--line", "x", "--bogus"},
        {"x"},
        {"--line", "x", "--interval", "-1"},
        {"--line", "x", "--interval", "1s"},
        {"--line", "x", "--repeat", "many"},
        {"--line", "x", "--terminator", "999"},
        {"--preset", "no-such-thing"},
        {"--line", "x", "--device", "/dev/ttyS0", "--wait-reader"},
        {"--line", "x", "--quiet=yes"},
        {"--line", "x", "--device="},
        {"--file="},
        {"--line", "x", "--baud", "0"},
    };
    for (const Args& args : bad) {
        std::string shown;
        for (const auto& a : args) {
            shown += "[" + a + "]";
        }
        EXPECT_THROW(parseSimOptions(args), std::invalid_argument) << shown;
    }
}

TEST(SimOptionsParse, HelpNeedsNothingElse) {
    EXPECT_TRUE(parseSimOptions({"--help"}).help);
    EXPECT_TRUE(parseSimOptions({"-h", "--interval", "5"}).help);
}

class SimOptionsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/simoptions-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }

    void write(const std::string& content) {
        std::ofstream out(path_, std::ios::binary);
        out << content;
    }

    std::string path_;
};

TEST_F(SimOptionsFile, OneLinePerLineWithoutWindowsLineEnds) {
    write("ST,GS  1.00 kg\r\n\nwith\\tescape\nlast without newline");
    auto lines = tools::loadLines(parseSimOptions({"--file", path_, "--line", "after"}));
    EXPECT_EQ(lines, (std::vector<std::string>{"ST,GS  1.00 kg", "", "with\tescape",
                                               "last without newline", "after"}));
}

TEST_F(SimOptionsFile, BadEscapeNamesFileAndLine) {
    write("good\nbad \\q here\n");
    try {
        tools::loadLines(parseSimOptions({"--file", path_}));
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(path_ + ":2:"), std::string::npos) << e.what();
    }
}

TEST_F(SimOptionsFile, EmptyOrMissingFileIsAnError) {
    write("");
    EXPECT_THROW(tools::loadLines(parseSimOptions({"--file", path_})), std::invalid_argument);
    EXPECT_THROW(tools::loadLines(parseSimOptions({"--file", path_ + ".missing"})),
                 std::invalid_argument);
}

TEST(ReaderOptionsParse, DefaultsAndValues) {
    auto o = parseReaderOptions({"--port", "/dev/pts/3"});
    EXPECT_EQ(o.port, "/dev/pts/3");
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.terminator, 13);
    EXPECT_EQ(o.count, 0);

    o = parseReaderOptions({"--port=/dev/x", "--baud", "2400", "--terminator", "lf", "--count=3"});
    EXPECT_EQ(o.baud, 2400);
    EXPECT_EQ(o.terminator, 10);
    EXPECT_EQ(o.count, 3);
}

TEST(ReaderOptionsParse, RejectsBadArguments) {
    const std::vector<Args> bad = {
        {},
        {"--baud", "9600"},
        {"--port"},
        {"--port", "/dev/x", "--count", "0"},
        {"--port", "/dev/x", "--baud", "fast"},
        {"--port", "/dev/x", "--line", "x"},
    };
    for (const Args& args : bad) {
        EXPECT_THROW(parseReaderOptions(args), std::invalid_argument);
    }
    EXPECT_TRUE(parseReaderOptions({"--help"}).help);
}

}  // namespace
