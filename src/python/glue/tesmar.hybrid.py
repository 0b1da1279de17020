"""The hybrid envelope as coroutine functions; each runs its core function on a worker thread."""
import asyncio

from tesmar.hybrid import core


async def encrypt(plaintext: "str", public_pem: "str") -> "str":
    """Seal text to a public key; returns the envelope as Base64 text."""
    return await asyncio.to_thread(core.encrypt_str, plaintext, public_pem)


async def decrypt(ciphertext_b64: "str", private_pem: "str") -> "str":
    """Decrypt the Base64 text of an envelope (any layout); returns the text."""
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, private_pem)


async def encrypt_bytes(data: "bytes", public_pem: "str") -> "bytes":
    """Seal bytes to a public key in the length-prefixed layout."""
    return await asyncio.to_thread(core.encrypt_bytes, data, public_pem)


async def decrypt_bytes(blob: "bytes", private_pem: "str") -> "bytes":
    """Decrypt an envelope of any layout (core.decrypt_auto); returns the plaintext bytes."""
    return await asyncio.to_thread(core.decrypt_auto, blob, private_pem)


__all__ = ["encrypt", "decrypt", "encrypt_bytes", "decrypt_bytes", "core"]
