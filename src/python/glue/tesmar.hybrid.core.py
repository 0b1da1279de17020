"""The hybrid envelope: data of any size sealed to an RSA public key.

A fresh AES-256 key encrypts the data with AES-GCM and RSA-OAEP wraps that key (through
tesmar.rsa.core._encrypt_oaep). encrypt_bytes writes the length-prefixed layout

    key length (4 bytes, little-endian) || wrapped key || nonce (12) || tag (16) || ciphertext

and decrypt_auto reads it, the legacy layout (HYBR || key length, 4 bytes big-endian || wrapped
key || AES-GCM envelope of tesmar.aes.core) and bare OAEP blocks, telling them apart by content.
"""
from tesmar.rsa import core as rsa_core
from tesmar.aes import core as aes_core
from tesmar.errors import DecryptionError, InvalidInputError

# HYBR, RSA_BLOCK, NONCE and TAG come with the native functions, from the engine.
