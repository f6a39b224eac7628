// The entry: -D words, --help and --version, the process-wide preparation, the real program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <sys/utsname.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/ZoviziDeZiz.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "serialkit/SystemProperties.h"

namespace quorvel {
namespace {

using serialkit::SystemProperties;
using ::testing::HasSubstr;
using ::testing::Not;

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
    EXPECT_THAT(help, HasSubstr("tcp://HOST:PORT"));
    EXPECT_THAT(help, HasSubstr("rfc2217://HOST:PORT"));
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
// The program itself, run without a display unless a row brings a platform of its own.
struct ProgramRun {
    QStringList environment;  // put in after DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are out
    QStringList arguments;
    std::optional<int> exitCode;  // none: the window is up and the program keeps running
    std::string output;           // found in the standard output
    std::string errors;           // the whole error output of a program that ended
};

TEST_F(EntryTest, TheProgramAnswersHelpAndVersionAnywhereAndNeedsADisplayForItsWindow) {
    const std::string noDisplay =
        "Tolvane needs a graphical desktop session, but neither DISPLAY nor WAYLAND_DISPLAY is "
        "set.\n";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString prefsFile = QStringLiteral("-D%1=%2").arg(
        prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, dir.filePath("prefs.txt"));
    const ProgramRun runs[] = {
        {{}, {"--version"}, 0, "Tolvane 2017.1.0.2 (20170125)\n", ""},
        {{}, {"-DSERIAL_PORT_LIST=/dev/null", "--help"}, 0, "Usage: tolvane", ""},
        {{}, {}, 1, "", noDisplay},
        {{"QT_QPA_PLATFORM=xcb"}, {"/dev/ttyS0"}, 1, "", noDisplay},
        // A display left over from a session that has ended.
        {{"DISPLAY=:5987"}, {}, 1, "",
         "Tolvane cannot reach the X display \":5987\" that DISPLAY names: is that desktop "
         "session still running?\n"},
        // A platform that needs no desktop session is the toolkit's business.
        {{"QT_QPA_PLATFORM=offscreen"}, {prefsFile, "/dev/null"}, std::nullopt, "", ""},
    };
    for (const ProgramRun& run : runs) {
        SCOPED_TRACE(run.environment.join(' ').toStdString() + " tolvane " +
                     run.arguments.join(' ').toStdString());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(QString::fromLatin1(name));
        }
        for (const QString& entry : run.environment) {
            environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProgram(QStringLiteral(TOLVANE_BINARY));
        program.setArguments(run.arguments);
        program.start();
        ASSERT_TRUE(program.waitForStarted(60000)) << program.errorString().toStdString();
        if (run.exitCode) {
            ASSERT_TRUE(program.waitForFinished(60000));
            EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(program.exitCode(), *run.exitCode);
            EXPECT_EQ(program.readAllStandardError().toStdString(), run.errors);
        } else {
            EXPECT_FALSE(program.waitForFinished(1500)) << "ended with " << program.exitCode();
            program.terminate();
            EXPECT_TRUE(program.waitForFinished(60000));
            EXPECT_THAT(program.readAllStandardError().toStdString(), Not(HasSubstr(noDisplay)));
        }
        EXPECT_THAT(program.readAllStandardOutput().toStdString(), HasSubstr(run.output));
    }
}
#else
TEST_F(EntryTest, TheProgramAnswersHelpAndVersionAnywhereAndNeedsADisplayForItsWindow) {
    GTEST_SKIP() << "the tolvane program is not part of this build";
}
#endif

}  // namespace
}  // namespace quorvel
