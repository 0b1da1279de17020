"""AES-256-GCM envelopes as coroutine functions; each runs its core function on a worker thread."""
import asyncio

from tesmar.aes import core


async def encrypt(plaintext: "str", key: "str") -> "str":
    """Encrypt text under a key text; returns the envelope as Base64 text."""
    return await asyncio.to_thread(core.encrypt_str, plaintext, key)


async def decrypt(ciphertext_b64: "str", key: "str") -> "str":
    """Decrypt the Base64 text of an envelope; returns the text."""
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, key)


async def encrypt_bytes(data: "bytes", key: "str") -> "bytes":
    """Encrypt bytes under a key text; returns the envelope."""
    return await asyncio.to_thread(core.encrypt_bytes, data, key)


async def decrypt_bytes(blob: "bytes", key: "str") -> "bytes":
    """Decrypt an envelope; returns the plaintext bytes."""
    return await asyncio.to_thread(core.decrypt_bytes, blob, key)


__all__ = ["encrypt", "decrypt", "encrypt_bytes", "decrypt_bytes", "core"]
