# An SFTP server of asyncssh for the engine's tests: it logs one user in with a password
# ("password"; "password-any-user": any user name) or through keyboard-interactive prompts
# ("keyboard-interactive"; "one-time-code" asks a code, which the password passes) and
# serves a folder as its root. In the "hostile" mode every
# listing also holds names a client must never take as entries; in "short-reads" each
# read is answered with at most 1000 bytes, as SFTP allows anywhere in a file; in
# "broken-listing" a listing fails after its first 128 names; in "out-of-order" requests
# are served at once and every other read or write of 64 KiB is held back 20 ms, so that
# replies come in another order than their requests; in "failing-reads" a read past the
# first 256 KiB of a file fails; in "full-disk" a write that would reach past 256 KiB
# fails, as on a disk that ran out of space.
# Arguments: PORT_FILE ROOT USER PASSWORD HOST_KEY AUTH MODE
import asyncio
import os
import sys

import asyncssh

port_file, root, user, password, host_key, auth, mode = sys.argv[1:8]

# A separator, the parent, a line break and a control character in a name, and bytes
# that are not UTF-8.
HOSTILE_NAMES = [b"a/b", b"..", b"x\nfoo", b"bell\x01", b"bad\xff.txt", b"back\\slash", b"del\x7f", b"c1\xc2\x85"]


class Server(asyncssh.SSHServer):
    def begin_auth(self, username):
        return True

    def public_key_auth_supported(self):
        return False

    def password_auth_supported(self):
        return auth.startswith("password")

    def validate_password(self, username, given):
        return (username == user or auth == "password-any-user") and given == password

    def kbdint_auth_supported(self):
        return auth in ("keyboard-interactive", "one-time-code")

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Verification code: " if auth == "one-time-code" else "Password: ", False)]

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

    async def read(self, file_object, offset, size):
        if mode == "out-of-order":
            await asyncio.sleep(0.02 if offset // 65536 % 2 == 0 else 0)
        if mode == "failing-reads" and offset >= LIMIT:
            raise asyncssh.SFTPFailure("the disk failed")
        return super().read(file_object, offset, min(size, 1000) if mode == "short-reads" else size)

    async def write(self, file_object, offset, data):
        if mode == "out-of-order":
            await asyncio.sleep(0.02 if offset // 65536 % 2 == 0 else 0)
        if mode == "full-disk" and offset + len(data) > LIMIT:
            raise asyncssh.SFTPFailure("No space left on device")
        return super().write(file_object, offset, data)


LIMIT = 256 * 1024

if mode == "out-of-order":
    # Each request in a task of its own, so that a reply held back lets later ones pass.
    from asyncssh.sftp import SFTPServerHandler

    async def serve_at_once(handler):
        tasks = set()
        try:
            while handler._reader:
                packet = await handler.recv_packet()
                kind, request = packet.get_byte(), packet.get_uint32()
                task = asyncio.ensure_future(handler._process_packet(kind, request, packet))
                tasks.add(task)
                task.add_done_callback(tasks.discard)
        except (EOFError, OSError, asyncssh.Error):
            await handler._cleanup(None)

    SFTPServerHandler.recv_packets = serve_at_once

if mode == "broken-listing":
    # asyncssh sends a listing 128 names at a time; the request for the next ones fails.
    from asyncssh.sftp import FXP_READDIR, SFTPServerHandler

    whole_readdir = SFTPServerHandler._packet_handlers[FXP_READDIR]

    async def readdir_failing_after_first(handler, packet):
        handler.readdirs = getattr(handler, "readdirs", 0) + 1
        if handler.readdirs > 1:
            raise asyncssh.SFTPFailure("the listing broke off")
        return await whole_readdir(handler, packet)

    SFTPServerHandler._packet_handlers[FXP_READDIR] = readdir_failing_after_first


async def main():
    server = await asyncssh.listen("127.0.0.1", 0, server_host_keys=[host_key], server_factory=Server,
                                   sftp_factory=Files, allow_scp=False)
    port = server.sockets[0].getsockname()[1]
    with open(port_file + ".new", "w") as f:
        f.write(str(port))
    os.rename(port_file + ".new", port_file)
    await asyncio.Event().wait()


asyncio.run(main())
