"""Files and binary streams of any size in the AES-GCM and hybrid envelopes, as coroutine functions.

Each runs its function of tesmar.files.core on a worker thread (asyncio.to_thread) and returns or
raises exactly what that function does; see tesmar.files.core for sources, targets and guarantees.
This package is not loaded by ``import tesmar``.
"""
import asyncio

from tesmar.files import core
from tesmar.files.core import DEFAULT_CHUNK_SIZE


async def aes_encrypt_file(source, target, key: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                           progress=None) -> "int":
    """Encrypt a file or stream under a key text; returns the bytes written.

    Runs core.aes_encrypt_file. Raises InvalidInputError for an empty input, EncryptionError if
    the cipher fails, OSError for the files.
    """
    return await asyncio.to_thread(core.aes_encrypt_file, source, target, key, chunk_size=chunk_size,
                                   progress=progress)


async def aes_decrypt_file(source, target, key: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                           progress=None) -> "int":
    """Decrypt an AES-GCM envelope from a file or stream; returns the bytes written.

    Runs core.aes_decrypt_file. Raises DecryptionError for a wrong key, tampered or truncated
    data, OSError for the files.
    """
    return await asyncio.to_thread(core.aes_decrypt_file, source, target, key, chunk_size=chunk_size,
                                   progress=progress)


async def hybrid_encrypt_file(source, target, public_pem: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                              progress=None) -> "int":
    """Seal a file or stream to an RSA public key; returns the bytes written.

    Runs core.hybrid_encrypt_file. Raises InvalidInputError for an empty input or bad key text,
    EncryptionError when the RSA primitive fails, OSError for the files.
    """
    return await asyncio.to_thread(core.hybrid_encrypt_file, source, target, public_pem,
                                   chunk_size=chunk_size, progress=progress)


async def hybrid_decrypt_file(source, target, private_pem: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                              progress=None) -> "int":
    """Decrypt a hybrid blob of any layout from a file or stream; returns the bytes written.

    Runs core.hybrid_decrypt_file. Raises InvalidInputError for bad key text, DecryptionError for
    a wrong key or tampered or foreign data, OSError for the files.
    """
    return await asyncio.to_thread(core.hybrid_decrypt_file, source, target, private_pem,
                                   chunk_size=chunk_size, progress=progress)


__all__ = ["aes_encrypt_file", "aes_decrypt_file", "hybrid_encrypt_file", "hybrid_decrypt_file", "core"]
