"""RSA keys, encryption and signatures as coroutine functions; each runs its core function on a
worker thread."""
import asyncio

from tesmar.rsa import core


async def new_key_pair() -> "tuple[str, str]":
    """Generate an RSA-4096 key pair; returns (private_pem, public_pem)."""
    return await asyncio.to_thread(core.new_key_pair)


async def encrypt(plaintext: "str", public_pem: "str") -> "str":
    """Encrypt text to a public key; returns Base64 text."""
    return await asyncio.to_thread(core.encrypt_str, plaintext, public_pem)


async def decrypt(ciphertext_b64: "str", private_pem: "str") -> "str":
    """Decrypt the Base64 text made by encrypt; returns the text."""
    return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, private_pem)


async def encrypt_bytes(data: "bytes", public_pem: "str") -> "bytes":
    """Encrypt bytes of any size to a public key."""
    return await asyncio.to_thread(core.encrypt_bytes, data, public_pem)


async def decrypt_bytes(blob: "bytes", private_pem: "str") -> "bytes":
    """Decrypt what encrypt_bytes made; returns the plaintext bytes."""
    return await asyncio.to_thread(core.decrypt_bytes, blob, private_pem)


async def sign(plaintext: "str", private_pem: "str") -> "str":
    """Sign text with RSA-PSS; returns the signature as Base64 text."""
    return await asyncio.to_thread(core.sign_str, plaintext, private_pem)


async def verify(plaintext: "str", signature_b64: "str", public_pem: "str") -> "bool":
    """Check a Base64 RSA-PSS signature over text."""
    return await asyncio.to_thread(core.verify_str, plaintext, signature_b64, public_pem)


async def sign_bytes(data: "bytes", private_pem: "str") -> "bytes":
    """Sign bytes with RSA-PSS; returns the signature."""
    return await asyncio.to_thread(core.sign_bytes, data, private_pem)


async def verify_bytes(data: "bytes", signature: "bytes", public_pem: "str") -> "bool":
    """Check an RSA-PSS signature over bytes."""
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
