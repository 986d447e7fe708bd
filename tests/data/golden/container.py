#!/usr/bin/env python3
"""An independent reading of the container format, in Python's standard library only.

  container.py make OUT              writes the golden container our tests open
  container.py check FILE PASSWORD NAME=MD5...
                                     opens a container written by our code and checks that each
                                     entry NAME holds bytes with that MD5 (exit 1 otherwise)

Layout: the 14 bytes "velmor db file", then the MD5 of the payload as 32 lowercase hex
characters, then the payload (a zip archive); everything after the magic goes through a byte
substitution keyed by the password. An empty password means the file is the plain archive.
"""
import hashlib
import io
import sys
import zipfile

MAGIC = b"velmor db file"
CONFIG_PASSWORD = b"5c0e9d27a4f1b83e6d92c7a0b4e5f816"


def substitution(password):
    table = list(range(256))
    k = 0
    for j in range(256):
        if k >= len(password):
            k = 0
        x = password[k]
        k += 1
        table[j], table[x] = table[x], table[j]
    return bytes(table)


def encode(data, password):
    return data.translate(substitution(password))


def decode(data, password):
    table = substitution(password)
    inverse = bytearray(256)
    for i, t in enumerate(table):
        inverse[t] = i
    return data.translate(bytes(inverse))


def build(payload, password):
    if not password:
        return payload
    digest = hashlib.md5(payload).hexdigest().encode("ascii")
    return MAGIC + encode(digest + payload, password)


def open_container(image, password):
    if not password:
        return image
    if len(image) <= 46 or image[:14].lower() != MAGIC:
        raise ValueError("not a container")
    rest = decode(image[14:], password)
    if rest[:32].lower() != hashlib.md5(rest[32:]).hexdigest().encode("ascii"):
        raise ValueError("digest mismatch (wrong password?)")
    return rest[32:]


GOLDEN_DATA = (
    '[{"bits":"32","compress_file_check":"0123456789ABCDEF0123456789ABCDEF",'
    '"compress_file_name":"loader.zip","compress_type":"ZIP","compress_user_password":"pw",'
    '"desc":"\\u52a0\\u8f7d\\u5668","file_check":"00112233445566778899aabbccddeeff",'
    '"file_name":"loader.dll","path":"","url":"http:\\/\\/config.velmor.example\\/loader.zip"}]\n'
)


def make(out):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("data.txt", GOLDEN_DATA.encode("ascii"))
        archive.writestr("user.txt", "客服01".encode("gbk"))
        archive.writestr("Blob.BIN", bytes(range(256)) * 4)
    with open(out, "wb") as f:
        f.write(build(buffer.getvalue(), CONFIG_PASSWORD))


def check(path, password, expectations):
    with open(path, "rb") as f:
        payload = open_container(f.read(), password.encode("latin-1"))
    with zipfile.ZipFile(io.BytesIO(payload)) as archive:
        for expectation in expectations:
            name, md5 = expectation.split("=")
            actual = hashlib.md5(archive.read(name)).hexdigest()
            if actual != md5.lower():
                raise ValueError(f"{name}: md5 {actual}, expected {md5}")
    print(f"{path}: container and {len(expectations)} entries check out")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) >= 4 and sys.argv[1] == "check":
        try:
            check(sys.argv[2], sys.argv[3], sys.argv[4:])
        except (ValueError, KeyError, zipfile.BadZipFile, OSError) as error:
            sys.exit(f"container.py: {error}")
    else:
        sys.exit(__doc__)
