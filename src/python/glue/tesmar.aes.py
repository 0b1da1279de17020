"""AES-256-GCM envelopes under a key text, as coroutine functions.

Each runs its function of tesmar.aes.core on a worker thread (asyncio.to_thread) and returns or
raises exactly what that function does.
"""
import asyncio

from tesmar.aes import core


async def encrypt(plaintext: "str", key: "str") -> "str":
    """Encrypt text under a key text; returns the envelope as Base64 text.

    Runs core.encrypt_str. Raises InvalidInputError for the empty text, EncryptionError if the
    cipher fails.
    """
    return await asyncio.to_thread(core.encrypt_str, plaintext, key)


async def decrypt(ciphertext_b64: "str", key: "str") -> "str":
    """Decrypt the Base64 text of an envelope; returns the text.

    Runs core.decrypt_str. Raises DecryptionError for text that is not strict Base64, a wrong key,
    tampered data, or plaintext that is not UTF-8.
    """
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, key)


async def encrypt_bytes(data: "bytes", key: "str") -> "bytes":
    """Encrypt bytes under a key text; returns nonce (12) || ciphertext || tag (16).

    Runs core.encrypt_bytes. Raises InvalidInputError for empty data, EncryptionError if the
    cipher fails.
    """
    return await asyncio.to_thread(core.encrypt_bytes, data, key)


async def decrypt_bytes(blob: "bytes", key: "str") -> "bytes":
    """Decrypt an envelope; returns the plaintext bytes.

    Runs core.decrypt_bytes. Raises DecryptionError for a wrong key, tampered or truncated data.
    """
    return await asyncio.to_thread(core.decrypt_bytes, blob, key)


__all__ = ["encrypt", "decrypt", "encrypt_bytes", "decrypt_bytes", "core"]
