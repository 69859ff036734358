#include "sftp/sftp_login.h"

#include <libssh/callbacks.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace sftp {

namespace {

struct KeyDeleter {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using Key = std::unique_ptr<ssh_key_struct, KeyDeleter>;

// A string libssh allocated, or empty.
std::string takeString(char* text) {
    std::string result = text ? text : "";
    ssh_string_free_char(text);
    return result;
}

std::string optionText(ssh_session ssh, ssh_options_e option) {
    char* value = nullptr;
    if (ssh_options_get(ssh, option, &value) != SSH_OK) return {};
    return takeString(value);
}

// The name known_hosts files give the server: "host", or "[host]:port" off port 22.
std::string knownHostsName(ssh_session ssh) {
    const std::string host = optionText(ssh, SSH_OPTIONS_HOST);
    unsigned int port = defaultPort;
    ssh_options_get_port(ssh, &port);
    return port == unsigned(defaultPort) ? host : "[" + host + "]:" + std::to_string(port);
}

// What a known_hosts line for this server says of the server's key.
struct KnownLine {
    bool revoked = false;  // marked "@revoked"
    bool sameType = false;
    bool sameKey = false;
    std::string place;  // "FILE:LINE"
};

// Calls `visit` with each line of the user's and the system's known_hosts that names this
// server, until it returns true. libssh 0.10 reads no marker, so a "@revoked" line is
// read here, its marker taken off.
void visitKnownLines(ssh_session ssh, ssh_key serverKey, const std::function<bool(const KnownLine&)>& visit) {
    const std::string name = knownHostsName(ssh);
    for (ssh_options_e option : {SSH_OPTIONS_KNOWNHOSTS, SSH_OPTIONS_GLOBAL_KNOWNHOSTS}) {
        const std::string path = optionText(ssh, option);
        std::ifstream file(path);
        std::string line;
        for (int number = 1; std::getline(file, line); ++number) {
            KnownLine known;
            const std::size_t first = line.find_first_not_of(" \t");
            const std::string_view marker = "@revoked";
            if (first != std::string::npos && line.compare(first, marker.size(), marker) == 0 &&
                line.find_first_of(" \t", first) == first + marker.size()) {
                known.revoked = true;
                line.erase(0, line.find_first_not_of(" \t", first + marker.size()));
            }
            ssh_knownhosts_entry* entry = nullptr;
            if (ssh_known_hosts_parse_line(name.c_str(), line.c_str(), &entry) != SSH_OK || !entry) continue;
            known.sameType = entry->publickey && ssh_key_type(entry->publickey) == ssh_key_type(serverKey);
            known.sameKey = known.sameType && ssh_key_cmp(entry->publickey, serverKey, SSH_KEY_CMP_PUBLIC) == 0;
            ssh_knownhosts_entry_free(entry);
            known.place = path + ":" + std::to_string(number);
            if (visit(known)) return;
        }
    }
}

// "FILE:LINE" of the first known_hosts line for this server that holds another key of
// the server's type, or, when none does, of any type: the line the user must remove.
std::string staleKnownLine(ssh_session ssh, ssh_key serverKey) {
    std::string sameType;
    std::string anyType;
    visitKnownLines(ssh, serverKey, [&](const KnownLine& known) {
        if (known.revoked || known.sameKey) return false;
        if (known.sameType) sameType = known.place;
        if (anyType.empty()) anyType = known.place;
        return !sameType.empty();
    });
    return sameType.empty() ? anyType : sameType;
}

// "FILE:LINE" of a "@revoked" line for this server that holds its key; empty when none does.
std::string revokedKnownLine(ssh_session ssh, ssh_key serverKey) {
    std::string place;
    visitKnownLines(ssh, serverKey, [&](const KnownLine& known) {
        if (known.revoked && known.sameKey) place = known.place;
        return !place.empty();
    });
    return place;
}

std::string sha256Fingerprint(ssh_key key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK) return {};
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    // ssh_get_fingerprint_hash frees with free(), not ssh_string_free_char's pair.
    std::string result = text ? text : "";
    std::free(text);
    return result;
}

// "publickey,password" from libssh's method bits, in OpenSSH's usual order.
std::string methodNames(int methods) {
    std::string names;
    const std::pair<int, const char*> known[] = {
        {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},
        {SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic"},
        {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
        {SSH_AUTH_METHOD_PASSWORD, "password"},
        {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"},
    };
    for (const auto& [bit, name] : known) {
        if (!(methods & bit)) continue;
        if (!names.empty()) names += ',';
        names += name;
    }
    return names;
}

struct PassphraseRequest {
    const PassphrasePrompt* ask;
    const std::string* keyFile;
};

// libssh asks for a key's passphrase through this; the answer is wiped at once, so
// that it lives only while libssh decrypts the key.
int answerPassphrase(const char*, char* buffer, size_t size, int, int, void* context) {
    const auto* request = static_cast<PassphraseRequest*>(context);
    if (!*request->ask) return -1;
    std::optional<std::string> passphrase = (*request->ask)(*request->keyFile);
    if (!passphrase || passphrase->size() >= size) return -1;
    std::memcpy(buffer, passphrase->c_str(), passphrase->size() + 1);
    explicit_bzero(passphrase->data(), passphrase->size());
    return 0;
}

Key privateKey(const std::string& file, const PassphrasePrompt& ask) {
    PassphraseRequest request{&ask, &file};
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(file.c_str(), nullptr, answerPassphrase, &request, &key) != SSH_OK) return {};
    return Key(key);
}

// The key files to offer: the first identity libssh holds (IdentityFile from the
// config, else its default), then OpenSSH's default names.
std::vector<std::string> keyFiles(ssh_session ssh, const std::string& sshFolder) {
    std::vector<std::string> files;
    const char* home = std::getenv("HOME");
    auto add = [&](std::string file) {
        if (file.starts_with("%d/")) file = sshFolder + file.substr(2);
        if (file.starts_with("~/") && home) file = home + file.substr(1);
        if (file.empty() || access(file.c_str(), R_OK) != 0) return;
        for (const std::string& known : files) {
            if (known == file) return;
        }
        files.push_back(file);
    };
    add(optionText(ssh, SSH_OPTIONS_IDENTITY));
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) add(sshFolder + "/" + name);
    return files;
}

// SSH_AUTH_SUCCESS, SSH_AUTH_DENIED when no key file let us in, SSH_AUTH_ERROR.
int logInWithKeyFiles(ssh_session ssh, const OpenOptions& options, const std::string& sshFolder) {
    for (const std::string& file : keyFiles(ssh, sshFolder)) {
        ssh_key publicPart = nullptr;
        Key key;
        if (ssh_pki_import_pubkey_file((file + ".pub").c_str(), &publicPart) != SSH_OK) {
            // Without a .pub beside it, only the key itself tells its public half.
            key = privateKey(file, options.askPassphrase);
            if (!key || ssh_pki_export_privkey_to_pubkey(key.get(), &publicPart) != SSH_OK) continue;
        }
        const Key offered(publicPart);
        // Asks the server first, so that the passphrase is asked only for a key it takes.
        const int accepted = ssh_userauth_try_publickey(ssh, nullptr, offered.get());
        if (accepted == SSH_AUTH_ERROR) return SSH_AUTH_ERROR;
        if (accepted != SSH_AUTH_SUCCESS) continue;
        if (!key) key = privateKey(file, options.askPassphrase);
        if (!key) continue;
        const int result = ssh_userauth_publickey(ssh, nullptr, key.get());
        if (result == SSH_AUTH_SUCCESS || result == SSH_AUTH_ERROR) return result;
    }
    return SSH_AUTH_DENIED;
}

// Whether keyboard-interactive prompt `index` asks for the password: typed blind, and
// saying so ("Password:", "(me@host) Password:"). A one-time code or any other question
// never gets it.
bool asksForPassword(ssh_session ssh, unsigned index) {
    char echo = 1;
    const char* prompt = ssh_userauth_kbdint_getprompt(ssh, index, &echo);
    return prompt && !echo && strcasestr(prompt, "password");
}

// Answers each round whose prompts all ask for the password with it; a round that asks
// anything else ends the login. A server that keeps asking is refused after a few
// rounds, as the password cannot be right for all of them.
int logInInteractively(ssh_session ssh, const std::string& password) {
    int result = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    for (int round = 0; result == SSH_AUTH_INFO && round < 4; ++round) {
        const unsigned prompts = unsigned(ssh_userauth_kbdint_getnprompts(ssh));
        for (unsigned prompt = 0; prompt < prompts; ++prompt) {
            if (!asksForPassword(ssh, prompt)) return SSH_AUTH_DENIED;
        }
        for (unsigned prompt = 0; prompt < prompts; ++prompt) {
            if (ssh_userauth_kbdint_setanswer(ssh, prompt, password.c_str()) < 0) return SSH_AUTH_ERROR;
        }
        result = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    }
    return result == SSH_AUTH_INFO ? SSH_AUTH_DENIED : result;
}

}  // namespace

bool checkHostKey(ssh_session ssh, const OpenOptions& options, std::string& error,
                  std::optional<HostKeyProblem>& problem) {
    ssh_key serverKey = nullptr;
    if (ssh_get_server_publickey(ssh, &serverKey) != SSH_OK) {
        error = ssh_get_error(ssh);
        return false;
    }
    const Key key(serverKey);
    HostKeyProblem found;
    found.fingerprint = sha256Fingerprint(key.get());
    found.keyType = ssh_key_type_to_char(ssh_key_type(key.get()));
    // A revoked key is refused whatever else known_hosts or the caller says of it.
    if (const std::string revoked = revokedKnownLine(ssh, key.get()); !revoked.empty()) {
        found.check = HostKeyCheck::revoked;
        found.knownLine = revoked;
        error = "the host key is revoked (" + revoked + ")";
        problem = found;
        return false;
    }
    switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK: return true;
    case SSH_KNOWN_HOSTS_NOT_FOUND:
    case SSH_KNOWN_HOSTS_UNKNOWN:
        if (!options.trustedFingerprint.empty() && options.trustedFingerprint == found.fingerprint) return true;
        found.check = HostKeyCheck::unknown;
        error = "The server's host key is not known: " + found.keyType + " " + found.fingerprint;
        break;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        // Never accepted, whatever fingerprint the caller trusts: the old key stays
        // until the user removes it.
        found.check = HostKeyCheck::changed;
        found.knownLine = staleKnownLine(ssh, key.get());
        error = "The server's host key has changed (" + found.keyType + " " + found.fingerprint +
                "): someone may be in between. If the server's key was replaced, remove the old one at " +
                found.knownLine;
        break;
    case SSH_KNOWN_HOSTS_ERROR:
        error = std::string("Cannot check the server's host key: ") + ssh_get_error(ssh);
        return false;
    }
    problem = found;
    return false;
}

bool logIn(ssh_session ssh, const OpenOptions& options, bool withoutPassword, const std::string& sshFolder,
           std::string& error) {
    int result = ssh_userauth_none(ssh, nullptr);
    const int methods = ssh_userauth_list(ssh, nullptr);
    const char* agent = std::getenv("SSH_AUTH_SOCK");
    if (result == SSH_AUTH_DENIED && (methods & SSH_AUTH_METHOD_PUBLICKEY)) {
        if (agent && *agent) result = ssh_userauth_agent(ssh, nullptr);
        if (result == SSH_AUTH_DENIED) result = logInWithKeyFiles(ssh, options, sshFolder);
    }
    if (result == SSH_AUTH_DENIED && !options.password.empty() && !withoutPassword) {
        if (methods & SSH_AUTH_METHOD_PASSWORD) result = ssh_userauth_password(ssh, nullptr, options.password.c_str());
        if (result == SSH_AUTH_DENIED && (methods & SSH_AUTH_METHOD_INTERACTIVE)) {
            result = logInInteractively(ssh, options.password);
        }
    }
    if (result == SSH_AUTH_SUCCESS) return true;
    if (result == SSH_AUTH_ERROR) {
        error = ssh_get_error(ssh);
    } else {
        error = "Permission denied (" + methodNames(ssh_userauth_list(ssh, nullptr)) + ").";
    }
    return false;
}

}  // namespace sftp
