"""PBKDF2-HMAC-SHA-512 password-hash records.

A record is one line of canonical JSON (keys sorted, no white space) that carries everything
needed to check a password against it later:

    {"algorithm":"pbkdf2","createdUtc":"2026-12-07T11:33:16Z","hash":"<Base64 of 64 bytes>",
     "parameters":{"hashAlgorithm":"SHA512","iterations":210000,"outputLength":64,"saltLength":32},
     "salt":"<Base64 of 32 bytes>","version":2}

Reading a record uses only salt, hash and the iterations, outputLength and (optional)
hashAlgorithm of parameters, so records made with other parameters still verify. verify_password
and needs_rehash answer an unreadable record with a boolean instead of raising.
"""
import hashlib

from tesmar.errors import InvalidInputError, TesmarError

# The record parameters ALGORITHM, VERSION, DEFAULT_ITERATIONS, SALT_LENGTH, OUTPUT_LENGTH,
# HASH_ALGORITHM and UPGRADE_THRESHOLD come with the native functions, from the engine that uses
# them.

# Upper-case hash name -> the hash function PBKDF2-HMAC runs on (the engine knows the same two).
_HASHES = {
    "SHA512": hashlib.sha512,
    "SHA256": hashlib.sha256,
}
