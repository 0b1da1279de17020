"""RSA-4096 keys, encryption and PSS signatures, as coroutine functions.

Each runs its function of tesmar.rsa.core on a worker thread (asyncio.to_thread) and returns or
raises exactly what that function does. Bad key text raises InvalidInputError everywhere.
"""
import asyncio

from tesmar.rsa import core


async def new_key_pair() -> "tuple[str, str]":
    """Generate an RSA-4096 key pair; returns (private_pem, public_pem).

    Runs core.new_key_pair. Raises ValueError only if the key generator fails.
    """
    return await asyncio.to_thread(core.new_key_pair)


async def encrypt(plaintext: "str", public_pem: "str") -> "str":
    """Encrypt text to a public key; returns Base64 text.

    Runs core.encrypt_str. Raises InvalidInputError for the empty text or bad key text,
    EncryptionError when the RSA primitive fails.
    """
    return await asyncio.to_thread(core.encrypt_str, plaintext, public_pem)


async def decrypt(ciphertext_b64: "str", private_pem: "str") -> "str":
    """Decrypt the Base64 text made by encrypt; returns the text.

    Runs core.decrypt_str. Raises InvalidInputError for bad key text, DecryptionError for text
    that is not strict Base64, a wrong key, tampered data, or plaintext that is not UTF-8.
    """
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, private_pem)


async def encrypt_bytes(data: "bytes", public_pem: "str") -> "bytes":
    """Encrypt bytes of any size to a public key; returns an OAEP block or a hybrid envelope.

    Runs core.encrypt_bytes. Raises InvalidInputError for empty data or bad key text,
    EncryptionError when the RSA primitive fails.
    """
    return await asyncio.to_thread(core.encrypt_bytes, data, public_pem)


async def decrypt_bytes(blob: "bytes", private_pem: "str") -> "bytes":
    """Decrypt what encrypt_bytes made; returns the plaintext bytes.

    Runs core.decrypt_bytes. Raises InvalidInputError for bad key text, DecryptionError for a
    wrong key or tampered or foreign data.
    """
    return await asyncio.to_thread(core.decrypt_bytes, blob, private_pem)


async def sign(plaintext: "str", private_pem: "str") -> "str":
    """Sign text with RSA-PSS; returns the signature as Base64 text.

    Runs core.sign_str. Raises InvalidInputError for bad key text, SignatureError when signing
    fails.
    """
    return await asyncio.to_thread(core.sign_str, plaintext, private_pem)


async def verify(plaintext: "str", signature_b64: "str", public_pem: "str") -> "bool":
    """Check a Base64 RSA-PSS signature over text; returns True if it verifies.

    Runs core.verify_str. False for a signature that is not Base64 or does not match; raises
    InvalidInputError for bad key text.
    """
    return await asyncio.to_thread(core.verify_str, plaintext, signature_b64, public_pem)


async def sign_bytes(data: "bytes", private_pem: "str") -> "bytes":
    """Sign bytes with RSA-PSS; returns the raw signature.

    Runs core.sign_bytes. Raises InvalidInputError for bad key text, SignatureError when signing
    fails.
    """
    return await asyncio.to_thread(core.sign_bytes, data, private_pem)


async def verify_bytes(data: "bytes", signature: "bytes", public_pem: "str") -> "bool":
    """Check an RSA-PSS signature over bytes; returns True if it verifies.

    Runs core.verify_bytes. False for a signature that does not match; raises InvalidInputError
    for bad key text.
    """
    return await asyncio.to_thread(core.verify_bytes, data, signature, public_pem)


__all__ = [
    "new_key_pair",
    "encrypt",
    "decrypt",
    "encrypt_bytes",
    "decrypt_bytes",
    "sign",
    "verify",
    "sign_bytes",
    "verify_bytes",
    "core",
]
