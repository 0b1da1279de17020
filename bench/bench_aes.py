"""AES-GCM envelope: tesmar against the same work composed in Python over pyca/cryptography."""
import base64
import binascii
import hashlib
import os
import re
import subprocess

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

from common import rate, row
from tesmar.aes import core

KEY_TEXT = base64.b64encode(os.urandom(32)).decode()


def py_convert_key(key):
    try:
        decoded = base64.b64decode(key, validate=True) if key and len(key) % 4 == 0 else None
    except (binascii.Error, ValueError):
        decoded = None
    if decoded is None:
        return hashlib.sha256(key.encode()).digest()
    if len(decoded) in (32, 64):
        return decoded[:32]
    return hashlib.sha256(decoded).digest()


def py_encrypt_bytes(data, key):
    nonce = os.urandom(12)
    return nonce + AESGCM(py_convert_key(key)).encrypt(nonce, data, None)


def py_decrypt_bytes(blob, key):
    return AESGCM(py_convert_key(key)).decrypt(blob[:12], blob[12:], None)


def py_encrypt_str(text, key):
    return base64.b64encode(py_encrypt_bytes(text.encode(), key)).decode()


def openssl_bulk_rate():
    """OpenSSL's own AES-256-GCM rate at 16 KiB blocks, in bytes per second (None if unavailable)."""
    try:
        out = subprocess.run(
            ["openssl", "speed", "-seconds", "2", "-bytes", "16384", "-evp", "aes-256-gcm"],
            capture_output=True, text=True, timeout=60,
        ).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    m = re.search(r"^AES-256-GCM\s+([\d.]+)k", out, re.M | re.I)
    return float(m.group(1)) * 1000 if m else None


def main():
    for size, label in [(64, "64 B"), (1024, "1 KiB"), (1 << 20, "1 MiB")]:
        data = os.urandom(size)
        blob = core.encrypt_bytes(data, KEY_TEXT)
        row(f"encrypt_bytes {label}", rate(lambda: core.encrypt_bytes(data, KEY_TEXT)),
            rate(lambda: py_encrypt_bytes(data, KEY_TEXT)))
        row(f"decrypt_bytes {label}", rate(lambda: core.decrypt_bytes(blob, KEY_TEXT)),
            rate(lambda: py_decrypt_bytes(blob, KEY_TEXT)))
    text = "x" * 64
    row("encrypt_str 64 B", rate(lambda: core.encrypt_str(text, KEY_TEXT)), rate(lambda: py_encrypt_str(text, KEY_TEXT)))
    # A passphrase key text: the Python composition pays a failed Base64 decode and a SHA-256.
    data = os.urandom(64)
    row("encrypt_bytes 64 B, passphrase key", rate(lambda: core.encrypt_bytes(data, "correct horse")),
        rate(lambda: py_encrypt_bytes(data, "correct horse")))

    bulk = openssl_bulk_rate()
    big = os.urandom(1 << 20)
    blob = core.encrypt_bytes(big, KEY_TEXT)
    enc = rate(lambda: core.encrypt_bytes(big, KEY_TEXT)) * len(big)
    dec = rate(lambda: core.decrypt_bytes(blob, KEY_TEXT)) * len(big)
    if bulk:
        print(f"  OpenSSL AES-256-GCM bulk (16 KiB blocks): {bulk / 1e6:,.0f} MB/s")
        print(f"  encrypt_bytes 1 MiB: {enc / 1e6:,.0f} MB/s = {enc / bulk:.2f}x OpenSSL bulk")
        print(f"  decrypt_bytes 1 MiB: {dec / 1e6:,.0f} MB/s = {dec / bulk:.2f}x OpenSSL bulk")
    else:
        print("  openssl speed unavailable; bulk bound not measured")
