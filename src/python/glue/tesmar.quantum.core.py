"""Post-quantum encryption schemes and signatures with self-describing keys.

Encryption keys start with two bytes, the scheme and the strength, followed by the scheme's raw
key; encryption returns (encapsulated secret, encrypted message) and decryption needs both.
Schemes: 2 and 5 (Classic McEliece with AES-256-CBC and HMAC-SHA-256), 4 and 6 (FrodoKEM with
AES-256-GCM), 7 (RSA-4096 and FrodoKEM) and 8 (X25519 and ML-KEM, the default). Signature keys carry
the algorithm (1 ML-DSA, 2 SLH-DSA) and strength the same way; signatures carry no header.
"""
from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError
from tesmar.quantum import _oqs
from tesmar.quantum.types import QuantumGeneration, QuantumStrength, SignatureAlgorithm
from tesmar.rsa.core import _OAEP
