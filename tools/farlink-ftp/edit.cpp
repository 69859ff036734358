#include "tools/farlink-ftp/edit.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "session/private_copy.h"

namespace tool {
namespace {

int fail(const std::string& reason) {
    std::cerr << platform::printableText(reason);
    if (reason.empty() || reason.back() != '\n') std::cerr << '\n';
    return 1;
}

// A question on the terminal: the answer is a line of standard input; anything but yes is no.
bool ask(const std::string& question) {
    std::cerr << platform::printableText(question) << " [y/N] " << std::flush;
    std::string answer;
    return std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes");
}

// Keeps the user's version in the current folder, saying where; when it cannot, the
// private copy stays, and that is said instead.
int keep(session::PrivateCopy& copy, const std::string& why) {
    if (!why.empty()) fail(why);
    char folder[PATH_MAX];
    std::string reason;
    const std::string kept = getcwd(folder, sizeof folder) ? session::keepUserVersion(copy, folder, reason) : "";
    if (kept.empty()) {
        copy.folder.clear();  // never removed now
        return fail(reason + "Your version stays in " + copy.path);
    }
    return fail("your version is kept in " + kept);
}

}  // namespace

int edit(const ftp::FtpUrl& url, const Options& options) {
    std::string reason;
    std::unique_ptr<session::ServerSession> server = openSession(url, options, reason);
    if (!server) return fail(reason);
    const char* temporary = std::getenv("TMPDIR");
    session::PrivateCopy copy;
    if (!session::fetchPrivateCopy(*server, url.path, temporary && *temporary ? temporary : "/tmp", true, copy,
                                   reason)) {
        server->quit(true);
        return fail(reason);
    }
    struct RemovedAtEnd {
        session::PrivateCopy& copy;
        ~RemovedAtEnd() { session::removePrivateCopy(copy); }
    } removed{copy};
    std::vector<std::string> editor = platform::editorCommand();
    if (editor.empty()) return fail("there is no editor: set VISUAL or EDITOR, or install vi");
    const std::string program = editor.front();
    editor.push_back(copy.path);
    const int status = platform::runOnTerminal(editor);
    if (status < 0) return fail(program + " could not be started (" + std::to_string(platform::lastError()) + ")");
    if (!session::copyChanged(copy)) {
        server->quit(false);
        if (status == 0) return 0;
        return fail("the editor ended with status " + std::to_string(status) +
                    "; the file is unchanged, nothing was sent");
    }
    if (status != 0 &&
        !ask("The editor ended with status " + std::to_string(status) + ". Send your version to the server anyway?")) {
        return keep(copy, "");
    }
    // A long edit may have outlasted the connection.
    bool lost = false;
    if (!server->probe(lost)) {
        server->quit(true);
        server = openSession(url, options, reason);
        if (!server) return keep(copy, reason);
    }
    const std::string name = url.path.substr(url.path.rfind('/') + 1);
    for (bool evenIfChanged = false;;) {
        switch (session::sendBack(*server, copy, evenIfChanged, reason)) {
        case session::SendBack::sent: server->quit(false); return 0;
        case session::SendBack::changedOnServer:
            if (!ask("'" + name + "' changed on the server while you edited it. Replace it with your version?")) {
                server->quit(false);
                return keep(copy, "");
            }
            evenIfChanged = true;
            break;
        case session::SendBack::failed: {
            const std::string why = server->gaveUpWaiting() ? failureOf(*server, options.timeoutSeconds) : reason;
            server->quit(true);
            return keep(copy, why);
        }
        }
    }
}

}  // namespace tool
