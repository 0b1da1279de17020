"""tesmar: ready-made cryptography with fixed, interoperable byte layouts.

Families: ``tesmar.aes`` (AES-256-GCM under a key text), ``tesmar.rsa`` (RSA-4096 keys, OAEP,
PSS), ``tesmar.hybrid`` (RSA-wrapped AES-GCM envelopes), ``tesmar.password`` (PBKDF2 records) and
``tesmar.quantum`` (post-quantum schemes and signatures). Each family package offers coroutine
functions; its ``core`` module the plain functions; ``tesmar.sync`` the same as blocking calls.
"""
from tesmar import aes, errors, hybrid, password, quantum, rsa, sync
from tesmar.errors import (
    TesmarError,
    InvalidInputError,
    EncryptionError,
    DecryptionError,
    SignatureError,
    QuantumOperationError,
)
from tesmar.version import __version__

__all__ = [
    "__version__",
    "aes",
    "rsa",
    "hybrid",
    "password",
    "quantum",
    "sync",
    "errors",
    "TesmarError",
    "InvalidInputError",
    "EncryptionError",
    "DecryptionError",
    "SignatureError",
    "QuantumOperationError",
]
