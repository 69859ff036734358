// An environment variable set for one scope (TZ included: the time zone is read again),
// with the old value put back at its end.
#pragma once

#include <optional>
#include <string>

namespace test_support {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace test_support
