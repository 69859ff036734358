# An SFTP server of asyncssh for the engine's tests: it logs one user in with a
# password ("password") or through keyboard-interactive prompts
# ("keyboard-interactive"), serves a folder as its root, and, in the "hostile" listing
# mode, adds names to every listing that a client must never take as entries.
# Arguments: PORT_FILE ROOT USER PASSWORD HOST_KEY AUTH LISTING
import asyncio
import os
import sys

import asyncssh

port_file, root, user, password, host_key, auth, mode = sys.argv[1:8]

# A separator, the parent, a line break and a control character in a name, and bytes
# that are not UTF-8.
HOSTILE_NAMES = [b"a/b", b"..", b"x\nfoo", b"bell\x01", b"bad\xff.txt"]


class Server(asyncssh.SSHServer):
    def begin_auth(self, username):
        return True

    def public_key_auth_supported(self):
        return False

    def password_auth_supported(self):
        return auth == "password"

    def validate_password(self, username, given):
        return username == user and given == password

    def kbdint_auth_supported(self):
        return auth == "keyboard-interactive"

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Password: ", False)]

    def validate_kbdint_response(self, username, responses):
        return username == user and list(responses) == [password]


class Files(asyncssh.SFTPServer):
    def __init__(self, channel):
        super().__init__(channel, chroot=root.encode())

    def listdir(self, path):
        names = list(super().listdir(path))
        if mode == "hostile":
            attributes = asyncssh.SFTPAttrs(size=3, permissions=0o100644, atime=0, mtime=0)
            names += [asyncssh.SFTPName(name, b"", attributes) for name in HOSTILE_NAMES]
        return names

    def read(self, file_object, offset, size):
        return super().read(file_object, offset, min(size, 1000) if mode == "short-reads" else size)


async def main():
    server = await asyncssh.listen("127.0.0.1", 0, server_host_keys=[host_key], server_factory=Server,
                                   sftp_factory=Files, allow_scp=False)
    port = server.sockets[0].getsockname()[1]
    with open(port_file + ".new", "w") as f:
        f.write(str(port))
    os.rename(port_file + ".new", port_file)
    await asyncio.Event().wait()


asyncio.run(main())
