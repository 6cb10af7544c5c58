#!/usr/bin/python3
"""Writes the sealed settings files from the plain golden file, independently of Orvel's code.

tests/data/settings/plain.orvelconfig is Orvel's own export of a fixed state (the settings tests
write plain.orvelconfig.new when it differs). From it this script seals:
  sealed-v1.orvelconfig  the older envelope: no "kdf", key = SHA-256 of the passphrase
  sealed-v2.orvelconfig  the current envelope: scrypt N 2^17, r 8, p 1, fixed salt
and, for the fuzz target, the same envelopes with a small scrypt cost and its passphrase.
Needs python3-cryptography (Debian's, for /usr/bin/python3).
"""
import base64
import hashlib
import json
import pathlib

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data" / "settings"
FUZZ = ROOT / "fuzz" / "corpus" / "settings_import"

PASSPHRASE = "orvel golden passphrase"
FUZZ_PASSPHRASE = "fuzz"
NONCE = bytes(range(12))
SALT = bytes(range(0x10, 0x20))


def text(value):
    """The settings file's own form: 2-space indent, sorted keys, every "/" escaped."""
    return json.dumps(value, indent=2, sort_keys=True, ensure_ascii=False).replace("/", "\\/")


def seal(key, plain, nonce=NONCE):
    return base64.b64encode(nonce + AESGCM(key).encrypt(nonce, plain, None)).decode()


def old_form(plain, passphrase):
    key = hashlib.sha256(passphrase.encode()).digest()
    return text({"format": "orvel-settings-encrypted", "version": "1.5",
                 "sealed": seal(key, plain)})


def new_form(plain, passphrase, n, r, p, salt=SALT):
    key = hashlib.scrypt(passphrase.encode(), salt=salt, n=n, r=r, p=p, maxmem=512 << 20,
                         dklen=32)
    kdf = {"name": "scrypt", "N": n, "r": r, "p": p, "salt": base64.b64encode(salt).decode()}
    return text({"format": "orvel-settings-encrypted", "version": "2", "kdf": kdf,
                 "sealed": seal(key, plain)})


def write(path, content):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(content, encoding="utf-8")
    print("wrote", path.relative_to(ROOT))


def main():
    plain = (DATA / "plain.orvelconfig").read_bytes()
    write(DATA / "sealed-v1.orvelconfig", old_form(plain, PASSPHRASE))
    write(DATA / "sealed-v2.orvelconfig", new_form(plain, PASSPHRASE, 131072, 8, 1))
    write(FUZZ / "plain.orvelconfig", plain.decode())
    write(FUZZ / "sealed-v1.orvelconfig", old_form(plain, FUZZ_PASSPHRASE))
    write(FUZZ / "sealed-v2-small.orvelconfig", new_form(plain, FUZZ_PASSPHRASE, 16, 1, 1))


if __name__ == "__main__":
    main()
