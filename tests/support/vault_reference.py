#!/usr/bin/python3
"""Vaults (sealed safes of the second version) made and read without
Quorvane's code, from the rules of docs/FORMAT.md alone; the primitives from
PyNaCl (libsodium's bindings).

  vault_reference.py make PASSWORD_FILE SAFE SPEC CHUNK_SIZE PASSES MEMORY_KIB [DATA_KEY_HEX]
  vault_reference.py read PASSWORD_FILE SAFE OUT_DIR

The password is the whole content of PASSWORD_FILE. SPEC has one line per
entry, in any order: KIND MODE SECONDS NANOSECONDS CONTENT_FILE PATH, where
KIND is F (file) or D (folder; CONTENT_FILE is "-") and MODE is octal. read
writes OUT_DIR/listing (the same lines, with the size in place of the content
file and files numbered from 0 in the listing's order) and each file's
content to OUT_DIR/N. It exits 1 when the safe does not open, 3 when a
file's content does not.
"""
import os
import struct
import sys

import nacl.bindings as b
import nacl.exceptions

SIGNATURE = b"QVSEAL\r\n"
HEADER = 4096
KEY_SLOTS = (64, 192)
COMMIT_SLOTS = (512, 1024)
OVERHEAD = 40
CONTENT, GROUP, ROOT = 1, 2, 3
FILE, FOLDER = 1, 2


def subkey(data_key, number):
    return b.crypto_generichash_blake2b_salt_personal(
        b"", digest_size=32, key=data_key, salt=struct.pack("<Q", number) + bytes(8),
        person=b"QVvault2" + bytes(8))


def seal(key, plain, ad):
    nonce = os.urandom(24)
    return nonce + b.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, ad, nonce, key)


def unseal(key, sealed, ad):
    return b.crypto_aead_xchacha20poly1305_ietf_decrypt(sealed[24:], ad, sealed[:24], key)


def place(safe_id, kind, owner, number, generation, last):
    return safe_id + struct.pack("<BQQQB", kind, owner, number, generation, 1 if last else 0)


def kek_for(password, passes, memory_kib, salt):
    return b.crypto_pwhash_alg(32, password, salt, passes, memory_kib * 1024,
                               b.crypto_pwhash_ALG_ARGON2ID13)


def pieces(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)]


def encode_entry(entry, extents):
    kind, mode, seconds, nanos, path, size, ident = entry
    raw = path.encode()
    out = struct.pack("<QBHqIQQH", ident, kind, mode, seconds, nanos, size, 1, len(raw)) + raw
    out += struct.pack("<I", len(extents))
    for offset, count in extents:
        out += struct.pack("<QI", offset, count)
    return out


def make(password, spec, chunk, passes, memory_kib, data_key=None):
    safe_id, salt = os.urandom(16), os.urandom(16)
    data_key = data_key or os.urandom(32)
    chunks_key = subkey(data_key, 1)
    fixed = SIGNATURE + struct.pack("<II", 2, chunk) + safe_id
    entries, body = [], b""
    for ident, (kind, mode, seconds, nanos, content, path) in enumerate(sorted(spec, key=lambda e: e[5]), 1):
        entries.append(((kind, mode, seconds, nanos, path, len(content), ident), []))
        parts = pieces(content, chunk)
        if parts:
            entries[-1][1].append((HEADER + len(body), len(parts)))
        for n, part in enumerate(parts):
            body += seal(chunks_key, part, place(safe_id, CONTENT, ident, n, 1, n == len(parts) - 1))
    groups, current = [], []
    for entry, extents in entries:
        encoded = encode_entry(entry, extents)
        if current and 4 + sum(map(len, current)) + len(encoded) > chunk:
            groups.append(current)
            current = []
        current.append(encoded)
    if current:
        groups.append(current)
    rows = b""
    for number, group in enumerate(groups):
        sealed = seal(chunks_key, struct.pack("<I", len(group)) + b"".join(group),
                      place(safe_id, GROUP, number, 0, 1, True))
        rows += struct.pack("<QIIQ", HEADER + len(body), len(sealed), number, 1)
        body += sealed
    root = struct.pack("<I", len(groups)) + rows
    root_at = HEADER + len(body)
    root_parts = pieces(root, chunk)
    for n, part in enumerate(root_parts):
        body += seal(chunks_key, part, place(safe_id, ROOT, 0, n, 1, n == len(root_parts) - 1))
    clear = struct.pack("<QBII", 1, 1, passes, memory_kib) + salt
    wrapped = seal(kek_for(password, passes, memory_kib, salt), data_key, fixed + clear)
    state = struct.pack("<QQQQQ", 1, root_at, len(root), HEADER + len(body), len(entries) + 1)
    header = bytearray(HEADER)
    header[0:32] = fixed
    header[KEY_SLOTS[0]:KEY_SLOTS[0] + len(clear + wrapped)] = clear + wrapped
    slot = seal(subkey(data_key, 2), state, fixed + b"\x00")
    header[COMMIT_SLOTS[0]:COMMIT_SLOTS[0] + len(slot)] = slot
    return bytes(header) + body


def open_data_key(password, safe):
    fixed = safe[:32]
    slots = []
    for at in KEY_SLOTS:
        generation, kdf, passes, memory_kib = struct.unpack("<QBII", safe[at:at + 17])
        if generation and kdf == 1 and 1 <= passes <= 16 and 8192 <= memory_kib <= 262144 \
                and passes * memory_kib <= 786432:
            slots.append((generation, at, passes, memory_kib))
    for generation, at, passes, memory_kib in sorted(slots, reverse=True):
        kek = kek_for(password, passes, memory_kib, safe[at + 17:at + 33])
        try:
            return unseal(kek, safe[at + 33:at + 105], fixed + safe[at:at + 33])
        except nacl.exceptions.CryptoError:
            continue
    return None


def read(password, safe):
    if len(safe) < HEADER or safe[:8] != SIGNATURE or struct.unpack("<I", safe[8:12])[0] != 2:
        return None
    chunk = struct.unpack("<I", safe[12:16])[0]
    fixed, safe_id = safe[:32], safe[16:32]
    data_key = open_data_key(password, safe)
    if data_key is None:
        return None
    chunks_key, states = subkey(data_key, 1), []
    for number, at in enumerate(COMMIT_SLOTS):
        try:
            states.append(struct.unpack("<QQQQQ", unseal(subkey(data_key, 2), safe[at:at + 80],
                                                         fixed + bytes([number]))))
        except nacl.exceptions.CryptoError:
            pass
    if not states:
        return None
    generation, root_at, root_length, in_use, _ = max(states)
    if in_use > len(safe):
        return None
    root, at, count = b"", root_at, (root_length + chunk - 1) // chunk
    for n in range(count):
        size = min(chunk, root_length - n * chunk) + OVERHEAD
        root += unseal(chunks_key, safe[at:at + size], place(safe_id, ROOT, 0, n, generation, n == count - 1))
        at += size
    entries = []
    for r in range(struct.unpack("<I", root[:4])[0]):
        offset, size, number, written = struct.unpack("<QIIQ", root[4 + 24 * r:28 + 24 * r])
        group = unseal(chunks_key, safe[offset:offset + size], place(safe_id, GROUP, number, 0, written, True))
        pos = 4
        for _ in range(struct.unpack("<I", group[:4])[0]):
            ident, kind, mode, seconds, nanos, length, made, path_length = \
                struct.unpack("<QBHqIQQH", group[pos:pos + 41])
            path = group[pos + 41:pos + 41 + path_length].decode()
            pos += 41 + path_length
            extents = []
            for _ in range(struct.unpack("<I", group[pos:pos + 4])[0]):
                extents.append(struct.unpack("<QI", group[pos + 4 + 12 * len(extents):pos + 16 + 12 * len(extents)]))
            pos += 4 + 12 * len(extents)
            entries.append((path, kind, mode, seconds, nanos, length, ident, made, extents))
    return chunk, chunks_key, safe_id, sorted(entries)


def content(safe, chunk, key, safe_id, entry):
    path, kind, mode, seconds, nanos, length, ident, made, extents = entry
    count, number, out = (length + chunk - 1) // chunk, 0, []
    for offset, run in extents:
        for _ in range(run):
            size = min(chunk, length - number * chunk) + OVERHEAD
            out.append(unseal(key, safe[offset:offset + size],
                              place(safe_id, CONTENT, ident, number, made, number == count - 1)))
            offset += size
            number += 1
    return b"".join(out)


def main(args):
    password = open(args[1], "rb").read()
    if args[0] == "make":
        spec = []
        for line in open(args[3], encoding="utf-8").read().splitlines():
            kind, mode, seconds, nanos, source, path = line.split(" ", 5)
            data = b"" if source == "-" else open(source, "rb").read()
            spec.append((FILE if kind == "F" else FOLDER, int(mode, 8), int(seconds), int(nanos), data, path))
        data_key = bytes.fromhex(args[7]) if len(args) > 7 else None
        open(args[2], "wb").write(make(password, spec, int(args[4]), int(args[5]), int(args[6]), data_key))
        return 0
    safe = open(args[2], "rb").read()
    try:
        opened = read(password, safe)
    except (nacl.exceptions.CryptoError, struct.error, UnicodeDecodeError):
        return 1
    if opened is None:
        return 1
    chunk, key, safe_id, entries = opened
    lines, files = [], 0
    for entry in entries:
        path, kind, mode, seconds, nanos, length = entry[:6]
        lines.append("%s %o %d %d %d %s" % ("F" if kind == FILE else "D", mode, seconds, nanos, length, path))
        if kind == FILE:
            try:
                data = content(safe, chunk, key, safe_id, entry)
            except nacl.exceptions.CryptoError:
                return 3
            open(os.path.join(args[3], str(files)), "wb").write(data)
            files += 1
    open(os.path.join(args[3], "listing"), "w", encoding="utf-8").write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
