#include "tests/support/real_ftp_server.h"

#include "tests/support/temporary_folder.h"

#include <sys/stat.h>

#include <cstdio>

namespace test_support {

namespace {

constexpr const char* pyftpdlibScript = R"(
import logging, os, subprocess, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler, TLS_DTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, port_file, port, host, certificate, key, fault, command_log = sys.argv[1:11]
passive_address, passive_first, passive_last = sys.argv[11:14]
if passive_address:
    FTPHandler.masquerade_address = passive_address
if int(passive_first):
    FTPHandler.passive_ports = range(int(passive_first), int(passive_last) + 1)
if certificate:
    FTPHandler = TLS_FTPHandler
    FTPHandler.certfile, FTPHandler.keyfile = certificate, key
    FTPHandler.tls_control_required = FTPHandler.tls_data_required = True
if fault == "another-certificate":
    from OpenSSL import SSL
    other = os.path.join(os.path.dirname(port_file), "other")
    subprocess.run(["/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=localhost", "-keyout", other + "-key.pem", "-out", other + ".pem"],
                   check=True, capture_output=True)
    other_context = SSL.Context(SSL.TLS_METHOD)
    other_context.use_certificate_chain_file(other + ".pem")
    other_context.use_privatekey_file(other + "-key.pem")
class FaultyData(TLS_DTPHandler):
    def secure_connection(self, context):
        super().secure_connection(other_context if fault == "another-certificate" else context)
    def close(self):
        if fault == "no-close-notify":
            self._error = True  # closes the socket without the TLS shutdown
        super().close()
if fault == "tls-1.1":
    from OpenSSL import SSL
    old = SSL.Context(SSL.TLS_METHOD)
    old.set_cipher_list(b"DEFAULT@SECLEVEL=0")
    old.set_min_proto_version(SSL.TLS1_VERSION)
    old.set_max_proto_version(SSL.TLS1_1_VERSION)
    old.use_certificate_chain_file(certificate)
    old.use_privatekey_file(key)
    FTPHandler.ssl_context = old
if fault:
    FTPHandler.dtp_handler = FaultyData
if command_log:
    logging.basicConfig(filename=command_log, level=logging.DEBUG)  # "<- COMMAND" per command
else:
    logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPHandler.permit_foreign_addresses = True
FTPHandler.auth_failed_timeout = 0
server = FTPServer((host, int(port)), FTPHandler)
with open(port_file + ".new", "w") as f:
    f.write(str(server.address[1]))
os.rename(port_file + ".new", port_file)
server.serve_forever()
)";

}  // namespace

std::string setupName(const ServerSetup& setup) {
    return std::string(setup.kind == FtpServerKind::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
           (setup.passive ? "Passive" : "Active") + (setup.tls ? "Tls" : "");
}

RealFtpServer::RealFtpServer(FtpServerKind kind, const std::string& root, RealFtpServerOptions options)
    : kind_(kind), options_(options), root_(root) {
    if (workFolder_.empty()) {
        error_ = "cannot create the server's work folder";
        return;
    }
    if (options_.tls && !makeCertificate()) return;
    hostFolder_ = root + "/";
    if (kind == FtpServerKind::Pyftpdlib) {
        startPyftpdlib();
    } else {
        startVsftpd();
    }
}

RealFtpServer::~RealFtpServer() = default;

void RealFtpServer::stop() { process_.stop(); }

void RealFtpServer::restart() {
    stop();
    error_.clear();
    if (kind_ == FtpServerKind::Pyftpdlib) {
        startPyftpdlib();
    } else {
        if (!process_.startListening({"/usr/sbin/vsftpd", workFolder_ + "/vsftpd.conf"}, port_, options_.ipv6))
            error_ = "vsftpd did not restart: " + process_.log();
    }
}

std::string RealFtpServer::url(const std::string& path) const {
    return "ftp://" + user_ + ":" + password_ + "@" + address() + path;
}

// Picks a port of its own the first time, and takes the same one when restarted.
void RealFtpServer::startPyftpdlib() {
    user_ = "tester";
    password_ = "secret";
    const bool tls = options_.tls;
    if (!process_.startListening(
            {"/usr/bin/python3", "-c", pyftpdlibScript, root_, user_, password_, workFolder_ + "/port",
             std::to_string(port_), options_.ipv6 ? "::1" : "127.0.0.1", tls ? certificatePath() : "",
             tls ? workFolder_ + "/key.pem" : "", options_.dataFault, options_.commandLog, options_.passiveAddress,
             std::to_string(options_.passivePortFirst), std::to_string(options_.passivePortLast)},
            port_, options_.ipv6))
        error_ = "pyftpdlib did not start (/usr/bin/python3, python3-pyftpdlib): " + process_.log();
}

void RealFtpServer::startVsftpd() {
    const std::string& root = root_;
    // Anonymous login chrooted into the root, so that no system account is needed.
    user_ = "anonymous";
    password_ = "tester";
    port_ = freePort(options_.ipv6);
    chmod(root.c_str(), 0755);
    remoteFolder_ = "/pub/";
    hostFolder_ = root + "/pub/";
    mkdir(hostFolder_.c_str(), 0777);
    chmod(hostFolder_.c_str(), 0777);
    const std::string emptyFolder = workFolder_ + "/empty";
    mkdir(emptyFolder.c_str(), 0755);
    const std::string config = workFolder_ + "/vsftpd.conf";
    writeFile(config, vsftpdListenLines() + "listen_port=" + std::to_string(port_) +
                          "\nbackground=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                          "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\nanon_root=" +
                          root +
                          "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                          "anon_other_write_enable=YES\nanon_world_readable_only=NO\nanon_umask=022\n"
                          "pasv_promiscuous=YES\nport_promiscuous=YES\n"
                          "connect_from_port_20=NO\nsecure_chroot_dir=" +
                          emptyFolder + "\nxferlog_enable=NO\ndirmessage_enable=NO\nuse_localtime=NO\n" +
                          tlsConfigLines() + commandLogLines() + passiveLines());
    chmod(config.c_str(), 0600);
    if (!process_.startListening({"/usr/sbin/vsftpd", config}, port_, options_.ipv6))
        error_ = "vsftpd did not start (/usr/sbin/vsftpd): " + process_.log();
}

// vsftpd writes "FTP command: ..." lines for each command into the log.
std::string RealFtpServer::commandLogLines() const {
    if (!*options_.commandLog) return "";
    return std::string("xferlog_enable=YES\nlog_ftp_protocol=YES\nxferlog_std_format=NO\nvsftpd_log_file=") +
           options_.commandLog + "\n";
}

std::string RealFtpServer::passiveLines() const {
    std::string lines;
    if (*options_.passiveAddress) lines += std::string("pasv_address=") + options_.passiveAddress + "\n";
    if (options_.passivePortFirst > 0) {
        lines += "pasv_min_port=" + std::to_string(options_.passivePortFirst) +
                 "\npasv_max_port=" + std::to_string(options_.passivePortLast) + "\n";
    }
    return lines;
}

// vsftpd listens on one family: listen= for IPv4, listen_ipv6= for IPv6.
std::string RealFtpServer::vsftpdListenLines() const {
    if (options_.ipv6) return "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n";
    return "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n";
}

// A new key and self-signed certificate for "localhost" (the name in the subject's
// alternative names, as name checks want it), and its fingerprint.
bool RealFtpServer::makeCertificate() {
    const std::string log = workFolder_ + "/openssl.log";
    const std::string fingerprintFile = workFolder_ + "/fingerprint";
    std::remove(fingerprintFile.c_str());
    if (!runToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                   "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout", workFolder_ + "/key.pem",
                   "-out", certificatePath()},
                  log) ||
        !runToEnd({"/usr/bin/openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", certificatePath()},
                  fingerprintFile)) {
        error_ = "openssl could not make a certificate: " + readFile(log);
        return false;
    }
    const std::string printed = readFile(fingerprintFile);  // "sha256 Fingerprint=AB:...\n"
    fingerprint_ = printed.substr(printed.find('=') + 1, 95);
    return true;
}

void RealFtpServer::changeCertificate() {
    stop();
    if (makeCertificate()) restart();
}

std::string RealFtpServer::tlsConfigLines() const {
    if (!options_.tls) return "";
    return "ssl_enable=YES\nrequire_ssl_reuse=YES\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
           "allow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\nrsa_cert_file=" +
           certificatePath() + "\nrsa_private_key_file=" + workFolder_ + "/key.pem\n";
}

}  // namespace test_support
