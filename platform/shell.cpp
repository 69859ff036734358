#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <future>
#include <initializer_list>
#include <system_error>
#include <thread>

#include "platform/errors.h"
#include "platform/host_files.h"
#include "platform/registry.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

struct ExtensionKind {
    std::u16string_view extension;  // lower case
    std::u16string_view typeName;
    IconId icon;
};

constexpr ExtensionKind extensionKinds[] = {
    {u"txt", u"Text Document", IconId::text},
    {u"log", u"Text Document", IconId::text},
    {u"md", u"Markdown Document", IconId::text},
    {u"ini", u"Configuration Settings", IconId::text},
    {u"cfg", u"Configuration Settings", IconId::text},
    {u"conf", u"Configuration Settings", IconId::text},
    {u"csv", u"CSV Document", IconId::text},
    {u"jpg", u"JPEG Image", IconId::image},
    {u"jpeg", u"JPEG Image", IconId::image},
    {u"png", u"PNG Image", IconId::image},
    {u"gif", u"GIF Image", IconId::image},
    {u"bmp", u"Bitmap Image", IconId::image},
    {u"2bp", u"Bitmap Image", IconId::image},
    {u"tif", u"TIFF Image", IconId::image},
    {u"tiff", u"TIFF Image", IconId::image},
    {u"webp", u"WebP Image", IconId::image},
    {u"svg", u"SVG Image", IconId::image},
    {u"ico", u"Icon", IconId::image},
    {u"mp3", u"MP3 Audio", IconId::audio},
    {u"wav", u"Wave Sound", IconId::audio},
    {u"wma", u"Windows Media Audio", IconId::audio},
    {u"ogg", u"Ogg Audio", IconId::audio},
    {u"flac", u"FLAC Audio", IconId::audio},
    {u"m4a", u"MPEG-4 Audio", IconId::audio},
    {u"aac", u"AAC Audio", IconId::audio},
    {u"amr", u"AMR Audio", IconId::audio},
    {u"mid", u"MIDI Sequence", IconId::audio},
    {u"midi", u"MIDI Sequence", IconId::audio},
    {u"mp4", u"MPEG-4 Video", IconId::video},
    {u"m4v", u"MPEG-4 Video", IconId::video},
    {u"avi", u"Video Clip", IconId::video},
    {u"wmv", u"Windows Media Video", IconId::video},
    {u"mpg", u"Movie Clip", IconId::video},
    {u"mpeg", u"Movie Clip", IconId::video},
    {u"mov", u"QuickTime Movie", IconId::video},
    {u"mkv", u"Matroska Video", IconId::video},
    {u"webm", u"WebM Video", IconId::video},
    {u"3gp", u"3GP Video", IconId::video},
    {u"zip", u"ZIP Archive", IconId::archive},
    {u"cab", u"Cabinet File", IconId::archive},
    {u"rar", u"RAR Archive", IconId::archive},
    {u"7z", u"7-Zip Archive", IconId::archive},
    {u"tar", u"Tar Archive", IconId::archive},
    {u"gz", u"Gzip Archive", IconId::archive},
    {u"tgz", u"Gzip Archive", IconId::archive},
    {u"bz2", u"Bzip2 Archive", IconId::archive},
    {u"xz", u"XZ Archive", IconId::archive},
    {u"exe", u"Application", IconId::program},
    {u"com", u"Application", IconId::program},
    {u"sh", u"Shell Script", IconId::program},
    {u"bat", u"Batch File", IconId::program},
    {u"lnk", u"Shortcut", IconId::link},
    {u"url", u"Internet Shortcut", IconId::link},
    {u"doc", u"Word Document", IconId::document},
    {u"docx", u"Word Document", IconId::document},
    {u"psw", u"Pocket Word Document", IconId::document},
    {u"rtf", u"Rich Text Document", IconId::document},
    {u"odt", u"OpenDocument Text", IconId::document},
    {u"pdf", u"PDF Document", IconId::document},
    {u"xls", u"Excel Workbook", IconId::document},
    {u"xlsx", u"Excel Workbook", IconId::document},
    {u"pxl", u"Pocket Excel Workbook", IconId::document},
    {u"ods", u"OpenDocument Spreadsheet", IconId::document},
    {u"ppt", u"PowerPoint Presentation", IconId::document},
    {u"pptx", u"PowerPoint Presentation", IconId::document},
    {u"htm", u"HTML Document", IconId::web},
    {u"html", u"HTML Document", IconId::web},
    {u"xml", u"XML Document", IconId::web},
};

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// The path as the caller wrote it, without surrounding quotes (a shortcut's target
// comes quoted) and ending at the first NUL.
std::u16string_view unquoted(std::u16string_view path) {
    path = path.substr(0, path.find(u'\0'));
    if (path.starts_with(u'"')) path.remove_prefix(1);
    if (path.ends_with(u'"')) path.remove_suffix(1);
    return path;
}

// Where a file name's extension starts (its last '.'), or npos. Names with nothing
// before their last dots (".profile", "..") or nothing after ("notes.") have none.
std::size_t extensionDot(std::u16string_view name) {
    const std::size_t dot = name.find_last_of(u'.');
    if (dot == std::u16string_view::npos || dot + 1 == name.size() || name.find_first_not_of(u'.') >= dot) {
        return std::u16string_view::npos;
    }
    return dot;
}

struct Description {
    std::u16string displayName;
    std::u16string typeName;
    IconId icon = IconId::file;
};

Description describe(std::u16string_view path, std::uint32_t attributes) {
    std::size_t end = path.size();
    while (end > 0 && isSeparator(path[end - 1])) --end;
    if (end == 0) return {u"My Device", u"Folder", IconId::device};
    std::size_t start = end;
    while (start > 0 && !isSeparator(path[start - 1])) --start;
    const std::u16string_view name = path.substr(start, end - start);
    if ((attributes & attributeFolder) != 0) {
        if (name == u"..") return {std::u16string(name), u"Folder", IconId::parentFolder};
        if ((attributes & attributeTemporary) != 0) return {std::u16string(name), u"Storage Card", IconId::storageCard};
        return {std::u16string(name), u"Folder", IconId::folder};
    }
    const std::size_t dot = extensionDot(name);
    if (dot == std::u16string_view::npos) return {std::u16string(name), u"File", IconId::file};
    const std::u16string_view extension = name.substr(dot + 1);
    Description result{std::u16string(name.substr(0, dot)), u"." + std::u16string(extension) + u" File", IconId::file};
    const std::u16string lower = lowerAscii(extension);
    for (const auto& kind : extensionKinds) {
        if (kind.extension == lower) {
            result.typeName = kind.typeName;
            result.icon = kind.icon;
        }
    }
    return result;
}

// The XDG documents folder ("XDG_DOCUMENTS_DIR" in user-dirs.dirs) when it is set and
// exists, otherwise $HOME; empty when there is no home.
std::string documentsHostFolder() {
    const char* homeVariable = std::getenv("HOME");
    const std::string home = homeVariable != nullptr ? homeVariable : "";
    if (home.empty()) return {};
    const char* configVariable = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configVariable != nullptr && *configVariable == '/' ? configVariable : home + "/.config";
    std::string text;
    if (!readWhole(config + "/user-dirs.dirs", text)) return home;
    static constexpr std::string_view key = "XDG_DOCUMENTS_DIR=\"";
    std::size_t at = text.find(key);
    while (at != std::string::npos && at > 0 && text[at - 1] != '\n') at = text.find(key, at + 1);
    if (at == std::string::npos) return home;
    const std::size_t start = at + key.size();
    const std::size_t end = text.find('"', start);
    if (end == std::string::npos) return home;
    std::string folder = text.substr(start, end - start);
    if (folder.starts_with("$HOME")) {
        folder = home + folder.substr(5);
    } else if (!folder.starts_with('/')) {
        return home;
    }
    return isFolder(folder) ? folder : home;
}

// Starts `arguments` (the first one the program, looked up on PATH unless it holds a '/')
// with default signal handling and no signal blocked; `detached` from our terminal, it
// gets /dev/null as its standard streams and a session of its own. 0, or the error.
int spawn(const std::vector<std::string>& arguments, bool detached, pid_t& child) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (detached) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    posix_spawnattr_setflags(&attributes,
                             (detached ? POSIX_SPAWN_SETSID : 0) | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int error = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Starts `arguments` detached (see spawn). A thread of ours waits for it, so it never
// lingers as a zombie and no SIGCHLD handler is needed.
bool spawnDetached(const std::vector<std::string>& arguments) {
    std::promise<int> outcome;
    std::future<int> started = outcome.get_future();
    try {
        std::thread([arguments, outcome = std::move(outcome)]() mutable {
            pid_t child = 0;
            const int error = spawn(arguments, true, child);
            outcome.set_value(error);
            if (error != 0) return;
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
        }).detach();
    } catch (const std::system_error&) {
        setLastError(errorNotEnoughMemory);
        return false;
    }
    const int error = started.get();
    if (error != 0) {
        setLastError(errorFromErrno(error));
        return false;
    }
    return true;
}

std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
        const std::string candidate = std::string(folder.empty() ? "." : folder) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0 && !isFolder(candidate)) return candidate;
    }
    return {};
}

// The words of the first variable of `variables` that is set and not blank, else the
// first of `programs` found on PATH; empty when none is.
std::vector<std::string> userCommand(std::initializer_list<const char*> variables,
                                     std::initializer_list<const char*> programs) {
    for (const char* variable : variables) {
        const char* value = std::getenv(variable);
        std::vector<std::string> words;
        for (std::string_view rest = value ? value : ""; !rest.empty();) {
            const std::size_t start = rest.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            rest.remove_prefix(start);
            const std::size_t end = std::min(rest.find_first_of(" \t"), rest.size());
            words.emplace_back(rest.substr(0, end));
            rest.remove_prefix(end);
        }
        if (!words.empty()) return words;
    }
    for (const char* program : programs) {
        if (!onPath(program).empty()) return {program};
    }
    return {};
}

}  // namespace

std::uintptr_t getFileInfo(std::u16string_view path, std::uint32_t attributes, ShellFileInfo& info,
                           std::uint32_t flags) {
    path = unquoted(path);
    if (path.empty()) {
        setLastError(errorInvalidParameter);
        return 0;
    }
    if ((flags & shellUseFileAttributes) == 0) {
        FileAttributeData data;
        if (!getFileAttributes(path, data)) return 0;
        attributes = data.attributes;
    }
    const Description description = describe(path, attributes);
    if ((flags & shellDisplayName) != 0) copyBounded(info.displayName, maxPath, description.displayName);
    if ((flags & shellTypeName) != 0) copyBounded(info.typeName, std::size(info.typeName), description.typeName);
    if ((flags & shellAttributes) != 0) info.attributes = attributes;
    if ((flags & (shellIcon | shellSystemIconIndex)) != 0) info.iconIndex = static_cast<int>(description.icon);
    if ((flags & shellIcon) != 0) info.icon = static_cast<std::uintptr_t>(description.icon);
    return (flags & shellSystemIconIndex) != 0 ? systemImageList : 1;
}

std::u16string documentsFolder() {
    const std::string host = documentsHostFolder();
    std::u16string device = host.empty() ? std::u16string() : toDevicePath(host);
    if (device.empty()) return u"\\";
    if (device.back() != u'\\') device += u'\\';
    return device;
}

std::string cacheHostFolder() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') return cache;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return std::string(home) + "/.cache";
    return {};
}

std::vector<std::string> ownHostFolders() {
    const std::string settings = defaultRegistryFile();
    std::vector<std::string> folders = {settings.substr(0, settings.rfind('/') + 1)};
    if (const std::string cache = cacheHostFolder(); !cache.empty()) folders.push_back(cache + "/farlink");
    return folders;
}

std::string programFile() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof path) return {};
    return std::string(path, static_cast<std::size_t>(length));
}

bool openWithDesktop(const std::string& hostPathOrUrl) {
    const std::string opener = onPath("xdg-open");
    if (opener.empty()) {
        setLastError(errorFileNotFound);
        return false;
    }
    return spawnDetached({opener, hostPathOrUrl});
}

bool startProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return spawnDetached(command);
}

std::vector<std::string> pagerCommand() { return userCommand({"PAGER"}, {"less", "more"}); }

std::vector<std::string> editorCommand() { return userCommand({"VISUAL", "EDITOR"}, {"editor", "vi"}); }

int runOnTerminal(const std::vector<std::string>& command) {
    if (command.empty()) {
        setLastError(errorFileNotFound);
        return -1;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction byDefault = ignore;
    byDefault.sa_handler = SIG_DFL;
    struct sigaction interrupt {};
    struct sigaction quit {};
    struct sigaction suspend {};
    sigaction(SIGINT, &ignore, &interrupt);
    sigaction(SIGQUIT, &ignore, &quit);
    // A handler of ours would draw our screen over the program's when both go on.
    sigaction(SIGTSTP, &byDefault, &suspend);
    pid_t child = 0;
    const int error = spawn(command, false, child);
    int status = 0;
    if (error == 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    }
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGQUIT, &quit, nullptr);
    sigaction(SIGTSTP, &suspend, nullptr);
    if (error != 0) {
        setLastError(errorFromErrno(error));
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

FileContent fileContent(const std::string& hostPath) {
    // Not blocking: a pipe without a writer would hold the caller.
    const Descriptor file(open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat facts {};
    if (file.fd < 0 || fstat(file.fd, &facts) != 0) {
        setLastError(errorFromErrno(errno));
        return FileContent::unreadable;
    }
    if (!S_ISREG(facts.st_mode)) return FileContent::notAFile;
    char start[8192];
    std::size_t length = 0;
    while (length < sizeof start) {
        const ssize_t got = read(file.fd, start + length, sizeof start - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            setLastError(errorFromErrno(errno));
            return FileContent::unreadable;
        }
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    return std::memchr(start, 0, length) ? FileContent::binary : FileContent::text;
}

bool createShortcut(std::u16string_view shortcutPath, std::u16string_view target) {
    std::string quoted(1, '"');
    quoted += toUtf8(unquoted(target));
    quoted += '"';
    std::string content = std::to_string(quoted.size());
    content += '#';
    content += quoted;
    const std::string host = toHostPath(shortcutPath);
    if (host.empty()) return false;
    const Descriptor file(open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.fd < 0) {
        setLastError(errno == ENOENT ? errorPathNotFound : errno == EEXIST ? errorFileExists : errorFromErrno(errno));
        return false;
    }
    if (!writeAll(file.fd, content.data(), content.size())) {
        setLastError(errorFromErrno(errno));
        unlink(host.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
