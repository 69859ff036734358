#include "tests/support/scoped_variable.h"

#include <cstdlib>
#include <ctime>

namespace test_support {

ScopedVariable::ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
    tzset();
}

ScopedVariable::~ScopedVariable() {
    if (old_) {
        setenv(name_, old_->c_str(), 1);
    } else {
        unsetenv(name_);
    }
    tzset();
}

}  // namespace test_support
