#include "serialkit/SystemProperties.h"

#include <cstdlib>
#include <cstring>

namespace serialkit {

std::mutex& SystemProperties::mutex() {
    static std::mutex m;
    return m;
}

// An entry holding nothing hides the environment variable of that name.
std::map<std::string, std::optional<std::string>>& SystemProperties::values() {
    static std::map<std::string, std::optional<std::string>> v;
    return v;
}

std::optional<std::string> SystemProperties::get(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(mutex());
        auto it = values().find(name);
        if (it != values().end()) {
            return it->second;
        }
    }
    const char* env = std::getenv(name == "user.home" ? "HOME" : name.c_str());
    if (env == nullptr) {
        return std::nullopt;
    }
    return std::string(env);
}

std::string SystemProperties::get(const std::string& name, const std::string& fallback) {
    auto value = get(name);
    return value ? *value : fallback;
}

void SystemProperties::set(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex());
    values()[name] = value;
}

void SystemProperties::clear(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex());
    values().erase(name);
}

void SystemProperties::remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex());
    values()[name] = std::nullopt;
}

int SystemProperties::applyDefines(int argc, const char* const* argv, int first) {
    int i = first;
    for (; i < argc; ++i) {
        const char* word = argv[i];
        if (word == nullptr || std::strncmp(word, "-D", 2) != 0 || word[2] == '\0') {
            break;
        }
        std::string definition(word + 2);
        auto eq = definition.find('=');
        if (eq == 0) {
            break;  // "-D=value" names nothing; leave it to the caller
        }
        if (eq == std::string::npos) {
            set(definition, "");
        } else {
            set(definition.substr(0, eq), definition.substr(eq + 1));
        }
    }
    return i;
}

}  // namespace serialkit
