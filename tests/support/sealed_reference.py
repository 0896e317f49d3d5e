#!/usr/bin/python3
"""Sealed safes made and read without Quorvane's code: the layout written out
byte by byte here, the primitives from PyNaCl (libsodium's bindings).

  sealed_reference.py seal PASSWORD_FILE PLAIN SAFE PASSES MEMORY_KIB SALT_HEX
  sealed_reference.py unseal PASSWORD_FILE SAFE PLAIN

The password is the whole content of PASSWORD_FILE. unseal exits 1 when the
safe does not open whole (any piece refused, no final piece, bytes after it).
"""
import struct
import sys

import nacl.bindings as b
import nacl.exceptions

SIGNATURE = b"QVSEAL\r\n"
PIECE = 1 << 20
FINAL = b.crypto_secretstream_xchacha20poly1305_TAG_FINAL


def key_for(password, passes, memory_kib, salt):
    return b.crypto_pwhash_alg(32, password, salt, passes, memory_kib * 1024,
                               b.crypto_pwhash_ALG_ARGON2ID13)


def seal(password, plain, passes, memory_kib, salt):
    head = SIGNATURE + struct.pack("<IBII", 1, 1, passes, memory_kib) + salt
    state = b.crypto_secretstream_xchacha20poly1305_state()
    head += b.crypto_secretstream_xchacha20poly1305_init_push(
        state, key_for(password, passes, memory_kib, salt))
    pieces = [plain[i:i + PIECE] for i in range(0, len(plain), PIECE)] or [b""]
    out = [head]
    for n, piece in enumerate(pieces):
        tag = FINAL if n == len(pieces) - 1 else 0
        out.append(b.crypto_secretstream_xchacha20poly1305_push(
            state, piece, head if n == 0 else None, tag))
    return b"".join(out)


def unseal(password, safe):
    head = safe[:61]
    if len(head) < 61 or head[:8] != SIGNATURE:
        return None
    fmt, kdf, passes, memory_kib = struct.unpack("<IBII", head[8:21])
    if fmt != 1 or kdf != 1:
        return None
    key = key_for(password, passes, memory_kib, head[21:37])
    state = b.crypto_secretstream_xchacha20poly1305_state()
    b.crypto_secretstream_xchacha20poly1305_init_pull(state, head[37:61], key)
    rest, plain, first = safe[61:], [], True
    while True:
        if not rest:
            return None
        piece, rest = rest[:PIECE + 17], rest[PIECE + 17:]
        try:
            text, tag = b.crypto_secretstream_xchacha20poly1305_pull(
                state, piece, head if first else None)
        except nacl.exceptions.RuntimeError:
            return None
        plain.append(text)
        first = False
        if tag == FINAL:
            return b"".join(plain) if not rest else None


def main(args):
    password = open(args[1], "rb").read()
    source = open(args[2], "rb").read()
    if args[0] == "seal":
        result = seal(password, source, int(args[4]), int(args[5]), bytes.fromhex(args[6]))
    else:
        result = unseal(password, source)
    if result is None:
        return 1
    open(args[3], "wb").write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
