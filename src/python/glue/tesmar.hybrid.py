"""The hybrid envelope (RSA-wrapped AES-GCM), as coroutine functions.

Each runs its function of tesmar.hybrid.core on a worker thread (asyncio.to_thread) and returns or
raises exactly what that function does.
"""
import asyncio

from tesmar.hybrid import core


async def encrypt(plaintext: "str", public_pem: "str") -> "str":
    """Seal text to a public key; returns the envelope as Base64 text.

    Runs core.encrypt_str. Raises InvalidInputError for the empty text or bad key text,
    EncryptionError when the RSA primitive fails.
    """
    return await asyncio.to_thread(core.encrypt_str, plaintext, public_pem)


async def decrypt(ciphertext_b64: "str", private_pem: "str") -> "str":
    """Decrypt the Base64 text of an envelope (any layout); returns the text.

    Runs core.decrypt_str. Raises InvalidInputError for bad key text, DecryptionError for text
    that is not strict Base64, a wrong key, tampered data, or plaintext that is not UTF-8.
    """
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, private_pem)


async def encrypt_bytes(data: "bytes", public_pem: "str") -> "bytes":
    """Seal bytes to a public key; returns the length-prefixed layout.

    Runs core.encrypt_bytes. Raises InvalidInputError for empty data or bad key text,
    EncryptionError when the RSA primitive fails.
    """
    return await asyncio.to_thread(core.encrypt_bytes, data, public_pem)


async def decrypt_bytes(blob: "bytes", private_pem: "str") -> "bytes":
    """Decrypt an envelope of any layout; returns the plaintext bytes.

    Runs core.decrypt_auto. Raises InvalidInputError for bad key text, DecryptionError for a wrong
    key or tampered or foreign data.
    """
    return await asyncio.to_thread(core.decrypt_auto, blob, private_pem)


__all__ = ["encrypt", "decrypt", "encrypt_bytes", "decrypt_bytes", "core"]
