#include "serialkit/SystemProperties.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serialkit/Platform.h"

namespace serialkit {
namespace {

// Environment names no one else uses, so the tests can set and unset them freely.
std::string uniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "SK_PROPTEST_" + stem + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

// Sets an environment variable for one test and restores the previous state afterwards.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        if (value) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
        SystemProperties::clear(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

TEST(SystemPropertiesLookup, FallsBackToEnvironment) {
    const std::string name = uniqueName("ENV");
    EXPECT_EQ(SystemProperties::get(name), std::nullopt);
    EXPECT_EQ(SystemProperties::get(name, "fallback"), "fallback");

    ScopedEnv env(name, "from-env");
    EXPECT_EQ(SystemProperties::get(name), "from-env");
    EXPECT_EQ(SystemProperties::get(name, "fallback"), "from-env");
    // The environment is read at lookup time, not remembered.
    ::setenv(name.c_str(), "changed", 1);
    EXPECT_EQ(SystemProperties::get(name), "changed");
}

TEST(SystemPropertiesLookup, SetOverridesAndClearReturnsToEnvironment) {
    const std::string name = uniqueName("OVR");
    ScopedEnv env(name, "from-env");
    SystemProperties::set(name, "from-program");
    EXPECT_EQ(SystemProperties::get(name), "from-program");
    SystemProperties::set(name, "again");
    EXPECT_EQ(SystemProperties::get(name), "again");
    // An empty value is a value, not an absence.
    SystemProperties::set(name, "");
    EXPECT_EQ(SystemProperties::get(name), "");
    EXPECT_EQ(SystemProperties::get(name, "fallback"), "");

    SystemProperties::clear(name);
    EXPECT_EQ(SystemProperties::get(name), "from-env");
    // Clearing what was never set is harmless.
    SystemProperties::clear(name);
    EXPECT_EQ(SystemProperties::get(name), "from-env");
}

TEST(SystemPropertiesLookup, SetWithoutEnvironment) {
    const std::string name = uniqueName("SET");
    SystemProperties::set(name, "v");
    EXPECT_EQ(SystemProperties::get(name), "v");
    SystemProperties::clear(name);
    EXPECT_EQ(SystemProperties::get(name), std::nullopt);
}

TEST(SystemPropertiesLookup, RemoveHidesEnvironmentUntilSetOrCleared) {
    const std::string name = uniqueName("RM");
    ScopedEnv env(name, "from-env");
    SystemProperties::remove(name);
    EXPECT_EQ(SystemProperties::get(name), std::nullopt);
    EXPECT_EQ(SystemProperties::get(name, "fallback"), "fallback");

    SystemProperties::set(name, "v");
    EXPECT_EQ(SystemProperties::get(name), "v");
    SystemProperties::remove(name);
    EXPECT_EQ(SystemProperties::get(name), std::nullopt);
    SystemProperties::clear(name);
    EXPECT_EQ(SystemProperties::get(name), "from-env");
}

TEST(SystemPropertiesLookup, UserHomeFallsBackToHome) {
    ScopedEnv home("HOME", "/tmp/sk-proptest-home");
    SystemProperties::clear("user.home");
    EXPECT_EQ(SystemProperties::get("user.home"), "/tmp/sk-proptest-home");

    SystemProperties::set("user.home", "/srv/elsewhere");
    EXPECT_EQ(SystemProperties::get("user.home"), "/srv/elsewhere");
    SystemProperties::clear("user.home");
    EXPECT_EQ(SystemProperties::get("user.home"), "/tmp/sk-proptest-home");

    ::unsetenv("HOME");
    EXPECT_EQ(SystemProperties::get("user.home"), std::nullopt);
}

// ---- -D words ------------------------------------------------------------------------------

TEST(SystemPropertiesDefines, LeadingDefinesAreAppliedUpToTheFirstOtherWord) {
    const std::string a = uniqueName("A");
    const std::string b = uniqueName("B");
    const std::string c = uniqueName("C");
    const std::string da = "-D" + a + "=1";
    const std::string db = "-D" + b + "=x=y";
    const std::string dc = "-D" + c + "=2";
    const char* argv[] = {"tolvane", da.c_str(), db.c_str(), "/dev/ttyUSB0", dc.c_str()};

    EXPECT_EQ(SystemProperties::applyDefines(5, argv), 3);
    EXPECT_EQ(SystemProperties::get(a), "1");
    // Only the first '=' separates name and value.
    EXPECT_EQ(SystemProperties::get(b), "x=y");
    // Defines after the first other word are that word's business.
    EXPECT_EQ(SystemProperties::get(c), std::nullopt);

    for (const auto& n : {a, b, c}) {
        SystemProperties::clear(n);
    }
}

TEST(SystemPropertiesDefines, StartIndexAndEnds) {
    const std::string a = uniqueName("A");
    const std::string da = "-D" + a + "=first";
    const char* argv[] = {da.c_str()};
    EXPECT_EQ(SystemProperties::applyDefines(1, argv, 0), 1);
    EXPECT_EQ(SystemProperties::get(a), "first");
    SystemProperties::clear(a);

    const char* only[] = {"tolvane"};
    EXPECT_EQ(SystemProperties::applyDefines(1, only), 1);
    const char* plain[] = {"tolvane", "COM3"};
    EXPECT_EQ(SystemProperties::applyDefines(2, plain), 1);
}

TEST(SystemPropertiesDefines, LaterDefineWinsAndOverridesEnvironment) {
    const std::string a = uniqueName("A");
    ScopedEnv env(a, "from-env");
    const std::string d1 = "-D" + a + "=one";
    const std::string d2 = "-D" + a + "=two";
    const char* argv[] = {"tolvane", d1.c_str(), d2.c_str()};
    EXPECT_EQ(SystemProperties::applyDefines(3, argv), 3);
    EXPECT_EQ(SystemProperties::get(a), "two");
}

TEST(SystemPropertiesDefines, NameWithoutValueOrValueEmpty) {
    const std::string a = uniqueName("A");
    const std::string b = uniqueName("B");
    const std::string da = "-D" + a;
    const std::string db = "-D" + b + "=";
    const char* argv[] = {"tolvane", da.c_str(), db.c_str()};
    EXPECT_EQ(SystemProperties::applyDefines(3, argv), 3);
    EXPECT_EQ(SystemProperties::get(a), "");
    EXPECT_EQ(SystemProperties::get(b), "");
    SystemProperties::clear(a);
    SystemProperties::clear(b);
}

TEST(SystemPropertiesDefines, MalformedWordsStopTheScan) {
    const std::string a = uniqueName("A");
    const std::string da = "-D" + a + "=1";
    for (const char* stop : {"-D", "-D=value",
                             "-d"
                             "x=1",
                             "--Dx=1",
                             "D"
                             "x=1",
                             ""}) {
        const char* argv[] = {"tolvane", stop, da.c_str()};
        EXPECT_EQ(SystemProperties::applyDefines(3, argv), 1) << '"' << stop << '"';
        EXPECT_EQ(SystemProperties::get(a), std::nullopt) << '"' << stop << '"';
    }
    EXPECT_EQ(SystemProperties::get(""), std::nullopt);
}

// ---- threads -------------------------------------------------------------------------------

TEST(SystemPropertiesThreads, ConcurrentSetAndGetStayConsistent) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    const std::string shared = uniqueName("SHARED");
    const std::string sharedA(64, 'a');
    const std::string sharedB(64, 'b');
    SystemProperties::set(shared, sharedA);

    std::vector<std::string> own;
    for (int t = 0; t < kThreads; ++t) {
        own.push_back(uniqueName("T"));
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string& mine = own[static_cast<std::size_t>(t)];
            for (int i = 0; i < kRounds; ++i) {
                const std::string value = std::to_string(t) + ":" + std::to_string(i);
                SystemProperties::set(mine, value);
                if (SystemProperties::get(mine) != value) {
                    ++failures;
                }
                SystemProperties::set(shared, (i + t) % 2 ? sharedA : sharedB);
                const auto seen = SystemProperties::get(shared);
                if (!seen || (*seen != sharedA && *seen != sharedB)) {
                    ++failures;
                }
                if (i % 7 == 0) {
                    SystemProperties::remove(mine);
                    if (SystemProperties::get(mine)) {
                        ++failures;
                    }
                    SystemProperties::clear(mine);
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        const auto& mine = own[static_cast<std::size_t>(t)];
        EXPECT_EQ(SystemProperties::get(mine),
                  std::to_string(t) + ":" + std::to_string(kRounds - 1));
        SystemProperties::clear(mine);
    }
    SystemProperties::clear(shared);
}

// ---- platform names ------------------------------------------------------------------------

TEST(SystemPropertiesPlatform, OsNamePropertyTakesPrecedence) {
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_EQ(systemOsName(), std::string(u.sysname));

    SystemProperties::set("SK_OSNAME", "Windows 7");
    EXPECT_EQ(currentOsName(), "Windows 7");
    // An empty property names nothing; the machine's own name applies.
    SystemProperties::set("SK_OSNAME", "");
    EXPECT_EQ(currentOsName(), systemOsName());
    SystemProperties::remove("SK_OSNAME");
    EXPECT_EQ(currentOsName(), systemOsName());
    SystemProperties::clear("SK_OSNAME");
}

TEST(SystemPropertiesPlatform, OsArchPropertyTakesPrecedence) {
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    if (std::string(u.machine) == "x86_64") {
        EXPECT_EQ(systemOsArch(), "amd64");
    } else if (std::string(u.machine) == "aarch64") {
        EXPECT_EQ(systemOsArch(), "aarch64");
    }
    SystemProperties::set("SK_OSARCH", "x86");
    EXPECT_EQ(currentOsArch(), "x86");
    SystemProperties::remove("SK_OSARCH");
    EXPECT_EQ(currentOsArch(), systemOsArch());
    SystemProperties::clear("SK_OSARCH");
}

}  // namespace
}  // namespace serialkit
