#!/usr/bin/python3
"""Runs squid's ntlm_fake_auth and mends the NTLM challenges it hands out.

Usage: ntlm_challenge.py HELPER [ARGS...]   (as squid's `auth_param ntlm program`)

ntlm_fake_auth (squid 5.7) writes a challenge whose target-name offset is uninitialised memory and
which carries no target information; Samba's ntlm_auth, which Wine's NTLM runs, refuses it
("NT_STATUS_INVALID_PARAMETER"), as would any strict client. Each "TT" reply is rebuilt as a
well-formed challenge with the helper's own flags, nonce and domain name; every other line of the
helper protocol passes through unchanged, so the helper still decides the exchange.
"""
import base64
import struct
import subprocess
import sys

SIGNATURE = b"NTLMSSP\0"
CHALLENGE_TYPE = 2
NEGOTIATE_UNICODE = 0x00000001
NEGOTIATE_TARGET_INFO = 0x00800000
HEADER_SIZE = 48  # up to and including the target-information field
AV_NETBIOS_DOMAIN = 2
AV_EOL = 0


def mended(challenge):
    if len(challenge) < 32 or challenge[:8] != SIGNATURE:
        return challenge
    name_length = struct.unpack_from("<H", challenge, 12)[0]
    flags = struct.unpack_from("<I", challenge, 20)[0]
    nonce = challenge[24:32]
    # The name follows the header the helper wrote (40 bytes); it is in the OEM code page.
    domain = challenge[40:40 + name_length].decode("ascii", "replace") or "WORKGROUP"
    name = domain.encode("utf-16-le")
    info = struct.pack("<HH", AV_NETBIOS_DOMAIN, len(name)) + name + struct.pack("<HH", AV_EOL, 0)
    flags |= NEGOTIATE_UNICODE | NEGOTIATE_TARGET_INFO
    header = SIGNATURE + struct.pack("<I", CHALLENGE_TYPE)
    header += struct.pack("<HHI", len(name), len(name), HEADER_SIZE)
    header += struct.pack("<I", flags) + nonce + bytes(8)
    header += struct.pack("<HHI", len(info), len(info), HEADER_SIZE + len(name))
    return header + name + info


def main():
    helper = subprocess.Popen(sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    for line in sys.stdin.buffer:
        helper.stdin.write(line)
        helper.stdin.flush()
        reply = helper.stdout.readline()
        if not reply:
            break
        if reply.startswith(b"TT "):
            token = base64.b64decode(reply[3:].strip())
            reply = b"TT " + base64.b64encode(mended(token)) + b"\n"
        sys.stdout.buffer.write(reply)
        sys.stdout.buffer.flush()
    helper.stdin.close()
    helper.wait()


if __name__ == "__main__":
    main()
