// Start-up probe: runs a full-screen program in a pseudo-terminal of 80x24 and reports
// how long it took until a marker text was first painted, then types the keys that make
// it quit and waits for it. Used to compare Farlink's start-up with other programs'.
//
//   startup_probe MARKER QUIT-KEYS -- PROGRAM [ARGUMENTS...]
//
// QUIT-KEYS are keys separated by blanks, \e standing for Escape ("\e" is Back in
// Farlink, "\e[21~" is F10), sent 200 ms apart. Prints
// "first paint: N ms" on success; exit status 1 when the marker never came (10 s).
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> keysOf(const std::string& text) {
    std::vector<std::string> keys(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            keys.emplace_back();
        } else if (text.compare(i, 2, "\\e") == 0) {
            keys.back() += '\x1b';
            ++i;
        } else {
            keys.back() += text[i];
        }
    }
    std::erase(keys, std::string());
    return keys;
}

// Reads what the program writes until `done` says so or the time is up.
template <class Done>
bool readUntil(int terminal, std::string& output, Clock::time_point deadline, Done done) {
    char buffer[65536];
    while (!done(output)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd wanted{terminal, POLLIN, 0};
        if (poll(&wanted, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0) return done(output);
        output.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fputs("usage: startup_probe MARKER QUIT-KEYS -- PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const std::string marker = argv[1];
    const std::vector<std::string> quitKeys = keysOf(argv[2]);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int terminal = -1;
    const Clock::time_point start = Clock::now();
    const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    if (child < 0) {
        std::perror("forkpty");
        return 2;
    }
    if (child == 0) {
        setenv("TERM", "xterm-256color", 1);
        execvp(argv[4], argv + 4);
        std::perror("exec");
        _exit(127);
    }
    std::string output;
    const bool painted = readUntil(terminal, output, start + std::chrono::seconds(10),
                                   [&](const std::string& text) { return text.find(marker) != std::string::npos; });
    const auto firstPaint = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    // Let the program settle, then quit as a user would.
    readUntil(terminal, output, Clock::now() + std::chrono::milliseconds(500),
              [](const std::string&) { return false; });
    for (const std::string& key : quitKeys) {
        if (write(terminal, key.data(), key.size()) < 0) break;
        readUntil(terminal, output, Clock::now() + std::chrono::milliseconds(200),
                  [](const std::string&) { return false; });
    }
    int status = 0;
    for (int i = 0; i < 50 && waitpid(child, &status, WNOHANG) == 0; ++i) {
        readUntil(terminal, output, Clock::now() + std::chrono::milliseconds(100),
                  [](const std::string&) { return false; });
    }
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGTERM);
        waitpid(child, &status, 0);
    }
    if (!painted) {
        std::fprintf(stderr, "the marker '%s' never came\n", marker.c_str());
        return 1;
    }
    std::printf("first paint: %.1f ms\n", firstPaint / 1000.0);
    return 0;
}
