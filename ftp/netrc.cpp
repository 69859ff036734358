// netrc entries and the choice of a login.
#include "ftp/netrc.h"

#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ftp {

namespace {

constexpr std::string_view blanks = " \t\r\n";

// Splits netrc text into tokens; comment lines and "macdef" definitions yield none.
std::vector<std::string> tokens(std::string_view text) {
    std::vector<std::string> result;
    std::size_t at = 0;
    const auto skipLine = [&] {
        const std::size_t end = text.find('\n', at);
        at = end == std::string_view::npos ? text.size() : end + 1;
    };
    const auto firstOnLine = [&] {
        const std::size_t before = at == 0 ? std::string_view::npos : text.find_last_not_of(" \t", at - 1);
        return before == std::string_view::npos || text[before] == '\n';
    };
    while (at < text.size()) {
        if (blanks.find(text[at]) != std::string_view::npos) {
            ++at;
            continue;
        }
        if (text[at] == '#' && firstOnLine()) {
            skipLine();
            continue;
        }
        std::string token;
        if (text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) ++at;
                token += text[at];
            }
            ++at;
        } else {
            for (; at < text.size() && blanks.find(text[at]) == std::string_view::npos; ++at) token += text[at];
        }
        if (token != "macdef") {
            result.push_back(std::move(token));
            continue;
        }
        // The macro's name, then its lines up to the first empty one.
        skipLine();
        while (at < text.size() && text.substr(at, 1) != "\n" && text.substr(at, 2) != "\r\n") skipLine();
    }
    return result;
}

// Overwrites the whole buffer of `secret`, what lay beyond its end too (ftp/ uses nothing
// of the host layer, which has the same for the program).
void wipe(std::string& secret) {
    secret.resize(secret.capacity());
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

// The words of netrc text, wiped when they go: they hold its passwords.
struct Words {
    std::vector<std::string> list;
    ~Words() {
        for (std::string& word : list) wipe(word);
    }
};

}  // namespace

Login::~Login() { wipe(password); }

NetrcFile::~NetrcFile() { wipe(text); }

bool readNetrcFile(const std::string& path, NetrcFile& file) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat facts {};
    bool whole = fstat(descriptor, &facts) == 0;
    char buffer[4096];
    while (whole) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) whole = false;
        else file.text.append(buffer, std::size_t(count));
    }
    explicit_bzero(buffer, sizeof buffer);
    close(descriptor);
    file.path = path;
    file.othersCanRead = (facts.st_mode & (S_IRGRP | S_IROTH)) != 0;
    return whole;
}

std::string netrcWarning(const NetrcFile& file) {
    if (!file.othersCanRead) return {};
    const Words words{tokens(file.text)};
    for (std::size_t i = 0; i + 1 < words.list.size(); ++i) {
        if (words.list[i] == "password") {
            return file.path + " can be read by others: its passwords are not used (chmod go-rw " + file.path + ")";
        }
    }
    return {};
}

std::optional<Login> netrcEntry(std::string_view text, std::string_view host, std::optional<std::string_view> user) {
    std::optional<Login> found;
    std::optional<Login> fallback;
    Login current;
    bool applies = false;  // the entry being read is for `host`, or the default one
    bool isDefault = false;
    const auto finishEntry = [&] {
        std::optional<Login>& kept = isDefault ? fallback : found;
        if (applies && !kept && (!user || current.user.empty() || current.user == *user)) kept = current;
        current = Login{};
    };
    const Words held{tokens(text)};
    const std::vector<std::string>& words = held.list;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool hasValue = i + 1 < words.size();
        if (word == "machine" && hasValue) {
            finishEntry();
            isDefault = false;
            applies = strcasecmp(words[++i].c_str(), std::string(host).c_str()) == 0;
        } else if (word == "default") {
            finishEntry();
            isDefault = applies = true;
        } else if ((word == "login" || word == "password" || word == "account") && hasValue) {
            ++i;
            if (word == "login") current.user = words[i];
            if (word == "password") current.password = words[i];
        }
    }
    finishEntry();
    return found ? found : fallback;
}

Login chooseLogin(std::string_view host, const std::optional<std::string>& user,
                  const std::optional<std::string>& password, const char* environmentPassword, const NetrcFile& netrc,
                  std::string_view anonymousPassword) {
    const std::optional<Login> entry = netrcEntry(netrc.text, host, user);
    Login login;
    const bool userNamed = user || (entry && !entry->user.empty());
    login.user = user ? *user : userNamed ? entry->user : "anonymous";
    if (password) {
        login.password = *password;
    } else if (environmentPassword && userNamed && login.user != "anonymous") {
        login.password = environmentPassword;
    } else if (entry && !entry->password.empty() && !netrc.othersCanRead) {
        login.password = entry->password;
    } else {
        login.password = login.user == "anonymous" ? anonymousPassword : "";
    }
    return login;
}

}  // namespace ftp
