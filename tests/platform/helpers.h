// Test helpers of the host layer: a temporary folder removed with everything in it,
// whole-file reads and writes, environment variables set for one test, and running a
// call on another thread.
#pragma once

#include <future>
#include <optional>
#include <string>

namespace platform_test {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);  // empty when missing

// Sets an environment variable (TZ included: the time zone is read again) until the
// end of the scope, then puts the old value back.
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

// Runs `body` on a thread of its own and returns what it returned.
template <typename Body>
auto onOtherThread(Body body) {
    return std::async(std::launch::async, body).get();
}

}  // namespace platform_test
