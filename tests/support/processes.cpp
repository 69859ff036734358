#include "tests/support/processes.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temporary_folder.h"

extern char** environ;

namespace test_support {

pid_t spawnServer(const std::vector<std::string>& arguments, const std::string& logPath) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&files, 0, 1);
    posix_spawn_file_actions_adddup2(&files, 0, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string stat = readFile(entry->path() / "stat");
        const std::size_t nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos || stat.size() < nameEnd + 4) continue;
        if (std::atoi(stat.c_str() + nameEnd + 4) == parent) children.push_back(std::atoi(stat.c_str()));
    }
    return children;
}

bool runToEnd(const std::vector<std::string>& arguments, const std::string& logPath) {
    const pid_t pid = spawnServer(arguments, logPath);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int runCommand(const std::string& commandLine, const std::string& folder, std::string& output, std::string& errors) {
    const std::string outputFile = folder + "/out";
    const std::string errorFile = folder + "/err";
    const int status = std::system((commandLine + " >" + outputFile + " 2>" + errorFile).c_str());
    output = readFile(outputFile);
    errors = readFile(errorFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int withoutRootRights(const std::function<int()>& work) {
    if (geteuid() != 0) return work();
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        const bool dropped = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
        _exit(dropped ? work() : 99);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test_support
