"""Post-quantum encryption and signatures as coroutine functions; each runs its core function on a
worker thread."""
import asyncio

from tesmar.quantum import core
from tesmar.quantum.types import QuantumGeneration, QuantumStrength, SignatureAlgorithm


async def generate_keypair(
    generation: "QuantumGeneration | int" = QuantumGeneration.GEN8,
    strength: "QuantumStrength | int" = QuantumStrength.HIGHEST,
) -> "tuple[bytes, bytes]":
    """Generate an encryption key pair; returns (public key, private key)."""
    return await asyncio.to_thread(core.generate_keypair, generation, strength)


async def encrypt(message: "str", public_key: "bytes") -> "tuple[bytes, bytes]":
    """Encrypt text to a public key; returns (encapsulated secret, encrypted message)."""
    return await asyncio.to_thread(core.encrypt, message, public_key)


async def decrypt(encrypted_message: "bytes", private_key: "bytes", secret: "bytes") -> "str":
    """Decrypt a message with the private key and its encapsulated secret; returns the text."""
    return await asyncio.to_thread(core.decrypt, encrypted_message, private_key, secret)


async def generate_signature_keypair(
    algorithm: "SignatureAlgorithm | int" = SignatureAlgorithm.ML_DSA,
    strength: "QuantumStrength | int" = QuantumStrength.HIGHEST,
) -> "tuple[bytes, bytes]":
    """Generate a signature key pair; returns (public key, private key)."""
    return await asyncio.to_thread(core.generate_signature_keypair, algorithm, strength)


async def sign(data: "bytes", private_key: "bytes") -> "bytes":
    """Sign bytes with a signature private key; returns the signature."""
    return await asyncio.to_thread(core.sign, data, private_key)


async def verify(data: "bytes", signature: "bytes", public_key: "bytes") -> "bool":
    """True if the signature over data verifies under the public key."""
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
