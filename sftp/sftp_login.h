// The SFTP engine's host key check and login, over an SSH connection that
// sftp_session.cpp has made: only the engine's own sources include this.
#pragma once

#include <libssh/libssh.h>

#include <optional>
#include <string>

#include "sftp/sftp_session.h"

namespace sftp {

// Judges the server's key against the user's and the system's known_hosts. False
// (with `error` and, for an unknown or changed key, `problem` set) refuses it.
bool checkHostKey(ssh_session ssh, const OpenOptions& options, std::string& error,
                  std::optional<HostKeyProblem>& problem);

// Logs in with ssh-agent, the key files of `sshFolder`, then the password unless
// `withoutPassword`. False with `error` set as OpenSSH words it ("Permission denied
// (publickey,password).").
bool logIn(ssh_session ssh, const OpenOptions& options, bool withoutPassword, const std::string& sshFolder,
           std::string& error);

}  // namespace sftp
