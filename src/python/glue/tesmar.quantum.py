"""Post-quantum encryption and signatures, as coroutine functions.

Each runs its function of tesmar.quantum.core on a worker thread (asyncio.to_thread) and returns
or raises exactly what that function does. Every operation needs liboqs and raises
QuantumOperationError without it.
"""
import asyncio

from tesmar.quantum import core
from tesmar.quantum.types import QuantumGeneration, QuantumStrength, SignatureAlgorithm


async def generate_keypair(
    generation: "QuantumGeneration | int" = QuantumGeneration.GEN8,
    strength: "QuantumStrength | int" = QuantumStrength.HIGHEST,
) -> "tuple[bytes, bytes]":
    """Generate an encryption key pair; returns (public key, private key).

    Runs core.generate_keypair. Raises ValueError for an unknown generation or strength,
    QuantumOperationError when liboqs is missing or fails.
    """
    return await asyncio.to_thread(core.generate_keypair, generation, strength)


async def encrypt(message: "str", public_key: "bytes") -> "tuple[bytes, bytes]":
    """Encrypt text to a public key; returns (encapsulated secret, encrypted message).

    Runs core.encrypt. Raises InvalidInputError for a malformed key, QuantumOperationError for an
    unsupported scheme or a failing liboqs, KeyError for an unknown strength byte.
    """
    return await asyncio.to_thread(core.encrypt, message, public_key)


async def decrypt(encrypted_message: "bytes", private_key: "bytes", secret: "bytes") -> "str":
    """Decrypt a message with the private key and its encapsulated secret; returns the text.

    Runs core.decrypt. Raises DecryptionError for wrong keys, tampered data or plaintext that is
    not UTF-8, InvalidInputError for a malformed key, secret or message, QuantumOperationError
    for an unsupported scheme or a failing liboqs, KeyError for an unknown strength byte.
    """
    return await asyncio.to_thread(core.decrypt, encrypted_message, private_key, secret)


async def generate_signature_keypair(
    algorithm: "SignatureAlgorithm | int" = SignatureAlgorithm.ML_DSA,
    strength: "QuantumStrength | int" = QuantumStrength.HIGHEST,
) -> "tuple[bytes, bytes]":
    """Generate a signature key pair; returns (public key, private key).

    Runs core.generate_signature_keypair. Raises ValueError for an unknown algorithm or strength,
    QuantumOperationError when liboqs is missing or fails.
    """
    return await asyncio.to_thread(core.generate_signature_keypair, algorithm, strength)


async def sign(data: "bytes", private_key: "bytes") -> "bytes":
    """Sign bytes with a signature private key; returns the raw signature.

    Runs core.sign. Raises InvalidInputError for a key without a header or with an unknown
    algorithm, KeyError for an unknown strength byte, QuantumOperationError when signing fails.
    """
    return await asyncio.to_thread(core.sign, data, private_key)


async def verify(data: "bytes", signature: "bytes", public_key: "bytes") -> "bool":
    """Check a signature over data under a public key; returns True if it verifies.

    Runs core.verify. False for malformed keys and signatures; raises KeyError for an unknown
    strength byte, QuantumOperationError when liboqs is missing.
    """
    return await asyncio.to_thread(core.verify, data, signature, public_key)


__all__ = [
    "generate_keypair",
    "encrypt",
    "decrypt",
    "generate_signature_keypair",
    "sign",
    "verify",
    "QuantumGeneration",
    "QuantumStrength",
    "SignatureAlgorithm",
    "core",
]
