"""Every tesmar operation as a plain blocking call, grouped by family.

Each method is the core function itself (a static method), so arguments, defaults, results and
errors are exactly the core function's: ``tesmar.sync.aes.encrypt`` is
``tesmar.aes.core.encrypt_str``. help() of a method shows that function's documentation.

    aes       encrypt, decrypt (the _str functions), encrypt_bytes, decrypt_bytes
    rsa       new_key_pair, encrypt, decrypt, encrypt_bytes, decrypt_bytes,
              sign, verify (the _str functions), sign_bytes, verify_bytes
    hybrid    encrypt, decrypt (the _str functions), encrypt_bytes,
              decrypt_bytes (decrypt_auto: every layout)
    password  hash, verify, needs_rehash (hash_password, verify_password, needs_rehash)
    quantum   generate_keypair, encrypt, decrypt, generate_signature_keypair, sign, verify
"""
from tesmar.aes import core as _aes_core
from tesmar.hybrid import core as _hybrid_core
from tesmar.password import core as _pw_core
from tesmar.quantum import core as _q_core
from tesmar.rsa import core as _rsa_core


class _AES:
    """AES-256-GCM envelopes under a key text."""

    encrypt = staticmethod(_aes_core.encrypt_str)
    decrypt = staticmethod(_aes_core.decrypt_str)
    encrypt_bytes = staticmethod(_aes_core.encrypt_bytes)
    decrypt_bytes = staticmethod(_aes_core.decrypt_bytes)


class _RSA:
    """RSA-4096 keys, OAEP encryption and PSS signatures."""

    new_key_pair = staticmethod(_rsa_core.new_key_pair)
    encrypt = staticmethod(_rsa_core.encrypt_str)
    decrypt = staticmethod(_rsa_core.decrypt_str)
    encrypt_bytes = staticmethod(_rsa_core.encrypt_bytes)
    decrypt_bytes = staticmethod(_rsa_core.decrypt_bytes)
    sign = staticmethod(_rsa_core.sign_str)
    verify = staticmethod(_rsa_core.verify_str)
    sign_bytes = staticmethod(_rsa_core.sign_bytes)
    verify_bytes = staticmethod(_rsa_core.verify_bytes)


class _Hybrid:
    """RSA-wrapped AES-GCM envelopes."""

    encrypt = staticmethod(_hybrid_core.encrypt_str)
    decrypt = staticmethod(_hybrid_core.decrypt_str)
    encrypt_bytes = staticmethod(_hybrid_core.encrypt_bytes)
    decrypt_bytes = staticmethod(_hybrid_core.decrypt_auto)


class _Password:
    """PBKDF2-HMAC-SHA-512 password-hash records."""

    hash = staticmethod(_pw_core.hash_password)
    verify = staticmethod(_pw_core.verify_password)
    needs_rehash = staticmethod(_pw_core.needs_rehash)


class _Quantum:
    """Post-quantum encryption schemes and signatures."""

    generate_keypair = staticmethod(_q_core.generate_keypair)
    encrypt = staticmethod(_q_core.encrypt)
    decrypt = staticmethod(_q_core.decrypt)
    generate_signature_keypair = staticmethod(_q_core.generate_signature_keypair)
    sign = staticmethod(_q_core.sign)
    verify = staticmethod(_q_core.verify)


aes = _AES()
rsa = _RSA()
hybrid = _Hybrid()
password = _Password()
quantum = _Quantum()

__all__ = ["aes", "rsa", "hybrid", "password", "quantum"]
