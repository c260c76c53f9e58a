// scoped_env.h - an environment variable set (or removed) for the life of an object, on every
// system.
#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

class ScopedEnv {
  public:
    // `value` nullptr removes the variable.
    ScopedEnv(const std::string& name, const char* value) : name_(name) {
        const char* old = std::getenv(name.c_str());
        had_ = old != nullptr;
        old_ = old ? old : "";
        set(value);
    }
    ~ScopedEnv() { set(had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const char* value) {
#ifdef _WIN32
        _putenv_s(name_.c_str(), value ? value : ""); // "" removes it
#else
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
#endif
    }
    std::string name_, old_;
    bool had_ = false;
};

} // namespace testsupport
