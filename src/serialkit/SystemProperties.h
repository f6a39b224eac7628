#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace serialkit {

// Process-wide name/value store. A name not set by the program falls back to the
// environment variable of the same name ("user.home" falls back to $HOME).
class SystemProperties {
  public:
    // The value, or nothing when neither set nor in the environment.
    static std::optional<std::string> get(const std::string& name);
    // The value, or `fallback` when absent.
    static std::string get(const std::string& name, const std::string& fallback);
    static void set(const std::string& name, const std::string& value);
    // Forgets a value the program set; the environment is consulted again.
    static void clear(const std::string& name);
    // Hides a name from lookups, even if the environment has it (tests, "unset" semantics).
    static void remove(const std::string& name);

    // Applies leading "-Dname=value" words; returns the index of the first other word.
    static int applyDefines(int argc, const char* const* argv, int first = 1);

  private:
    static std::mutex& mutex();
    static std::map<std::string, std::optional<std::string>>& values();
};

}  // namespace serialkit
