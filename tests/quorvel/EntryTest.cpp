// The entry: -D words, --help and --version, the process-wide preparation, the real program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLocale>
#include <QProcess>

#include <sys/utsname.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/ZoviziDeZiz.h"
#include "serialkit/SystemProperties.h"

namespace quorvel {
namespace {

using serialkit::SystemProperties;
using ::testing::HasSubstr;

// Saves the properties a test may change and puts them back afterwards.
class EntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kTouched) {
            saved.push_back(SystemProperties::get(name));
        }
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(kTouched); ++i) {
            if (saved[i]) {
                SystemProperties::set(kTouched[i], *saved[i]);
            } else {
                SystemProperties::clear(kTouched[i]);
            }
        }
    }

    // Runs parseArguments over the words (the program name comes first).
    bool parse(std::vector<std::string> words, QStringList& windowArguments, int& exitCode) {
        words.insert(words.begin(), "tolvane");
        std::vector<char*> argv;
        for (auto& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        return ZoviziDeZiz::parseArguments(static_cast<int>(words.size()), argv.data(),
                                           windowArguments, exitCode);
    }

    static constexpr const char* kTouched[] = {"VERSION", "RELEASEDATE", "SK_OSNAME",
                                               "SK_OSARCH", "ENTRY_TEST_A", "ENTRY_TEST_B",
                                               "ENTRY_TEST_LATE"};
    std::vector<std::optional<std::string>> saved;
};

TEST_F(EntryTest, LeadingDefinesBecomePropertiesAndTheRestGoesToTheWindow) {
    SystemProperties::remove("ENTRY_TEST_LATE");
    QStringList arguments{"stale"};
    int exitCode = -1;
    ASSERT_TRUE(parse({"-DENTRY_TEST_A=1", "-DENTRY_TEST_B=x=y", "/dev/ttyUSB0",
                       "-DENTRY_TEST_LATE=2"},
                      arguments, exitCode));
    EXPECT_EQ(SystemProperties::get("ENTRY_TEST_A"), std::optional<std::string>("1"));
    EXPECT_EQ(SystemProperties::get("ENTRY_TEST_B"), std::optional<std::string>("x=y"));
    // Only the leading words are definitions; after the port everything is passed on as is.
    EXPECT_EQ(arguments, (QStringList{"/dev/ttyUSB0", "-DENTRY_TEST_LATE=2"}));
    EXPECT_FALSE(SystemProperties::get("ENTRY_TEST_LATE").has_value());
    EXPECT_EQ(exitCode, -1);
}

TEST_F(EntryTest, NoWordsOrOnlyDefinesGiveTheWindowNoArguments) {
    QStringList arguments{"stale"};
    int exitCode = -1;
    EXPECT_TRUE(parse({}, arguments, exitCode));
    EXPECT_TRUE(arguments.isEmpty());
    EXPECT_TRUE(parse({"-DENTRY_TEST_A=only"}, arguments, exitCode));
    EXPECT_TRUE(arguments.isEmpty());
    EXPECT_EQ(SystemProperties::get("ENTRY_TEST_A"), std::optional<std::string>("only"));
}

TEST_F(EntryTest, VersionAndHelpPrintAndEndWithZero) {
    QStringList arguments;
    int exitCode = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(parse({"--version"}, arguments, exitCode));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Tolvane 2017.1.0.2 (20170125)\n");
    EXPECT_EQ(exitCode, 0);

    exitCode = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(parse({"-DENTRY_TEST_A=3", "--help"}, arguments, exitCode));
    const std::string help = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitCode, 0);
    EXPECT_THAT(help, HasSubstr("Usage: tolvane"));
    EXPECT_THAT(help, HasSubstr("PORT"));
    EXPECT_THAT(help, HasSubstr("-DSERIAL_PORT_LIST="));
    EXPECT_THAT(help, HasSubstr("-DSOUNDFONT="));
    EXPECT_EQ(SystemProperties::get("ENTRY_TEST_A"), std::optional<std::string>("3"));
}

TEST_F(EntryTest, AnOptionAfterThePortIsPassedOnNotInterpreted) {
    QStringList arguments;
    int exitCode = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(parse({"/dev/ttyS0", "--version"}, arguments, exitCode));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(arguments, (QStringList{"/dev/ttyS0", "--version"}));
}

TEST_F(EntryTest, PrepareSetsTheLocaleVersionAndThisMachinesPlatform) {
    SystemProperties::remove("VERSION");
    SystemProperties::remove("RELEASEDATE");
    SystemProperties::remove("SK_OSNAME");
    SystemProperties::remove("SK_OSARCH");
    ZoviziDeZiz::prepare();

    EXPECT_EQ(QLocale().language(), QLocale::English);
    EXPECT_EQ(SystemProperties::get("VERSION"), std::optional<std::string>("2017.1.0.2"));
    EXPECT_EQ(SystemProperties::get("RELEASEDATE"), std::optional<std::string>("20170125"));

    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    const std::string machine = u.machine;
    // The names under which the serial library picks its POSIX backend.
    EXPECT_EQ(SystemProperties::get("SK_OSNAME"), std::optional<std::string>("Linux"));
    const std::string arch = SystemProperties::get("SK_OSARCH", "");
    if (machine == "x86_64") {
        EXPECT_EQ(arch, "amd64");
    } else if (machine == "aarch64") {
        EXPECT_EQ(arch, "aarch64");
    } else {
        EXPECT_FALSE(arch.empty());
    }
}

TEST_F(EntryTest, PrepareKeepsAPlatformGivenOnTheCommandLine) {
    // An unsupported platform must stay testable with -DSK_OSNAME=...
    SystemProperties::set("SK_OSNAME", "Plan 9");
    SystemProperties::set("SK_OSARCH", "mips");
    SystemProperties::set("VERSION", "0.0.0.1");
    ZoviziDeZiz::prepare();
    EXPECT_EQ(SystemProperties::get("SK_OSNAME"), std::optional<std::string>("Plan 9"));
    EXPECT_EQ(SystemProperties::get("SK_OSARCH"), std::optional<std::string>("mips"));
    // The version is the build's own, whatever was given.
    EXPECT_EQ(SystemProperties::get("VERSION"), std::optional<std::string>("2017.1.0.2"));

    // An empty value names nothing.
    SystemProperties::set("SK_OSNAME", "");
    ZoviziDeZiz::prepare();
    EXPECT_EQ(SystemProperties::get("SK_OSNAME"), std::optional<std::string>("Linux"));
}

#ifdef TOLVANE_BINARY
// The program itself: runs to completion without a window.
void runProgram(QProcess& process, const QStringList& arguments) {
    process.setProgram(QStringLiteral(TOLVANE_BINARY));
    process.setArguments(arguments);
    process.start();
}

TEST_F(EntryTest, TheProgramPrintsItsVersionAndHelp) {
    QProcess version;
    runProgram(version, {"--version"});
    ASSERT_TRUE(version.waitForFinished(60000)) << version.errorString().toStdString();
    EXPECT_EQ(version.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.readAllStandardOutput(), QByteArray("Tolvane 2017.1.0.2 (20170125)\n"));

    QProcess help;
    runProgram(help, {"-DSERIAL_PORT_LIST=/dev/null", "--help"});
    ASSERT_TRUE(help.waitForFinished(60000)) << help.errorString().toStdString();
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_THAT(help.readAllStandardOutput().toStdString(), HasSubstr("Usage: tolvane"));
}
#else
TEST_F(EntryTest, TheProgramPrintsItsVersionAndHelp) {
    GTEST_SKIP() << "the tolvane program is not part of this build";
}
#endif

}  // namespace
}  // namespace quorvel
