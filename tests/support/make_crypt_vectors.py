#!/usr/bin/env python3
"""Expected values for the AES tests of tests/unit/test_crypt.cpp, computed here from the
published algorithms with python3-cryptography (AES, RC4) and hashlib (MD5, SHA-2), so
that the engine's own code is checked against an independent implementation.

Run it and paste what it prints into the test: python3 tests/support/make_crypt_vectors.py
Nothing random: salts, file keys and vectors are fixed below."""
import hashlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

try:  # RC4 moved in later releases
    from cryptography.hazmat.decrepit.ciphers.algorithms import ARC4
except ImportError:
    ARC4 = algorithms.ARC4

PADDING = bytes.fromhex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A")


def aes_cbc(key, iv, data, encrypt=True):
    c = Cipher(algorithms.AES(key), modes.CBC(iv))
    op = c.encryptor() if encrypt else c.decryptor()
    return op.update(data) + op.finalize()


def aes_ecb(key, data):
    op = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    return op.update(data) + op.finalize()


def rc4(key, data):
    op = Cipher(ARC4(key), mode=None).encryptor()
    return op.update(data)


def hash_2b(revision, password, salt, udata):
    password = password[:127]
    k = hashlib.sha256(password + salt + udata).digest()
    if revision == 5:
        return k
    i = 0
    while True:
        k1 = (password + k + udata) * 64
        e = aes_cbc(k[:16], k[16:32], k1)
        k = [hashlib.sha256, hashlib.sha384, hashlib.sha512][sum(e[:16]) % 3](e).digest()
        i += 1
        if i >= 64 and e[-1] <= i - 32:
            return k[:32]


def pkcs7(data):
    n = 16 - len(data) % 16
    return data + bytes([n]) * n


def aesv2_object_key(key, num, gen):
    return hashlib.md5(key + num.to_bytes(3, "little") + gen.to_bytes(2, "little") + b"sAlT").digest()[:16]


def hx(b):
    return b.hex().upper()


def r6_dictionary(revision, user, owner, file_key, salts, p, encrypt_metadata=True):
    u = hash_2b(revision, user, salts[0], b"") + salts[0] + salts[1]
    ue = aes_cbc(hash_2b(revision, user, salts[1], b""), bytes(16), file_key)
    o = hash_2b(revision, owner, salts[2], u) + salts[2] + salts[3]
    oe = aes_cbc(hash_2b(revision, owner, salts[3], u), bytes(16), file_key)
    perms = (p & 0xFFFFFFFF).to_bytes(4, "little") + b"\xff" * 4 + (b"T" if encrypt_metadata else b"F") + b"adb" + b"\x01\x02\x03\x04"
    return u, ue, o, oe, aes_ecb(file_key, perms)


def r4_dictionary(user, owner, file_id, p):
    # Keys of revisions 3 and 4 (metadata encrypted): MD5 and RC4 with 50 extra rounds.
    pad = lambda pw: (pw + PADDING)[:32]
    d = hashlib.md5(pad(owner)).digest()
    for _ in range(50):
        d = hashlib.md5(d).digest()
    o = pad(user)
    for k in range(20):
        o = rc4(bytes(b ^ k for b in d), o)
    key = hashlib.md5(pad(user) + o + (p & 0xFFFFFFFF).to_bytes(4, "little") + file_id).digest()
    for _ in range(50):
        key = hashlib.md5(key).digest()
    u = hashlib.md5(PADDING + file_id).digest()
    for k in range(20):
        u = rc4(bytes(b ^ k for b in key), u)
    return o, u + bytes(16), key


def main():
    print("// PasswordHash: revision, password (hexadecimal), salt, /U (hexadecimal), hash")
    cases = [
        (6, b"", b"\x00" * 8, b""),
        (6, b"user", bytes(range(8)), b""),
        (6, b"owner", bytes(range(8, 16)), bytes(range(48))),
        (6, "pässwörd".encode(), b"saltsalt", b""),
        (6, b"x" * 200, b"12345678", b""),  # cut to 127 bytes
        (5, b"baz", b"abcdefgh", b""),
        (5, b"foo", b"ABCDEFGH", bytes(range(48))),
    ]
    for rev, pw, salt, udata in cases:
        print('{%d, "%s", "%s", "%s", "%s"},' % (rev, hx(pw), hx(salt), hx(udata), hx(hash_2b(rev, pw, salt, udata))))

    print("\n// Revision 6 and 5 dictionaries: user 'u', owner 'o', file key 00..1F, salts 11.., 22.., 33.., 44..")
    file_key = bytes(range(32))
    salts = [bytes([0x11 * (i + 1)]) * 8 for i in range(4)]
    iv = bytes(range(0xA0, 0xB0))
    for rev in (6, 5):
        u, ue, o, oe, perms = r6_dictionary(rev, b"u", b"o", file_key, salts, -3904 + 4 + 16)
        print("R%d U  %s" % (rev, hx(u)))
        print("R%d UE %s" % (rev, hx(ue)))
        print("R%d O  %s" % (rev, hx(o)))
        print("R%d OE %s" % (rev, hx(oe)))
        print("R%d Perms %s" % (rev, hx(perms)))
    print("AESV3 'Hello, world' with IV A0..AF: %s" % hx(iv + aes_cbc(file_key, iv, pkcs7(b"Hello, world"))))

    print("\n// Revision 4 with AESV2: user 'reader', owner 'boss', /ID[0] 00..0F, /P -1028")
    file_id = bytes(range(16))
    o, u, key = r4_dictionary(b"reader", b"boss", file_id, -1028)
    print("R4 O %s" % hx(o))
    print("R4 U %s" % hx(u))
    print("R4 key %s" % hx(key))
    print("AESV2 object 12 generation 3 'Secret text' with IV A0..AF: %s"
          % hx(iv + aes_cbc(aesv2_object_key(key, 12, 3), iv, pkcs7(b"Secret text"))))
    print("AESV2 object 12 generation 3, 16 bytes 'sixteen bytes!!!': %s"
          % hx(iv + aes_cbc(aesv2_object_key(key, 12, 3), iv, pkcs7(b"sixteen bytes!!!"))))
    bad = aes_cbc(aesv2_object_key(key, 12, 3), iv, b"no padding here!" )
    print("AESV2 object 12 generation 3, 'no padding here!' without padding: %s" % hx(iv + bad))


if __name__ == "__main__":
    main()
