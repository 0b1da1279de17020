"""What type checkers must conclude about tesmar, through its stubs.

Checked, never run: `mypy --strict --warn-unused-ignores` (and pyright, which reports an
unnecessary ignore as an error). Each `# type: ignore[code]` line is a mistake that the stubs must
reject with exactly that code; if a stub stops rejecting it, the ignore becomes unused and the
check fails.
"""
from collections.abc import Coroutine
from typing import Any, Literal, assert_type

import tesmar
from tesmar import aes, hybrid, password, quantum, rsa, sync
from tesmar.aes import core as aes_core
from tesmar.hybrid import core as hybrid_core
from tesmar.password import core as password_core
from tesmar.quantum import QuantumGeneration, QuantumStrength, SignatureAlgorithm
from tesmar.quantum import core as quantum_core
from tesmar.rsa import core as rsa_core


def core_functions(private_pem: str, public_pem: str, blob: bytes) -> None:
    assert_type(aes_core.encrypt_str("text", "key"), str)
    assert_type(aes_core.decrypt_str("token", "key"), str)
    assert_type(aes_core.decrypt_str(b"dG9rZW4=", "key"), str)  # Base64 may come as ASCII bytes
    assert_type(aes_core.encrypt_bytes(bytearray(b"data"), "key"), bytes)
    assert_type(aes_core.decrypt_bytes(memoryview(blob), "key"), bytes)
    assert_type(rsa_core.new_key_pair(), tuple[str, str])
    assert_type(rsa_core.sign_str("text", private_pem), str)
    assert_type(rsa_core.verify_str("text", "sig", public_pem), bool)
    assert_type(rsa_core.verify_bytes(blob, blob, public_pem), bool)
    assert_type(hybrid_core.encrypt_bytes(blob, public_pem), bytes)
    assert_type(hybrid_core.decrypt_auto(blob, private_pem), bytes)
    assert_type(password_core.hash_password("pw"), str)
    assert_type(password_core.hash_password("pw", iterations=300_000), str)
    assert_type(password_core.verify_password("pw", "{}"), bool)
    assert_type(password_core.needs_rehash("{}"), bool)
    assert_type(quantum_core.generate_keypair(QuantumGeneration.GEN7, 1), tuple[bytes, bytes])
    assert_type(quantum_core.encrypt("text", blob), tuple[bytes, bytes])
    assert_type(quantum_core.decrypt(blob, blob, blob), str)
    assert_type(quantum_core.sign(blob, blob), bytes)


def constants_enums_errors() -> None:
    assert_type(tesmar.__version__, str)
    assert_type(aes_core.GCM_TAG_SIZE, Literal[16])
    assert_type(password_core.DEFAULT_ITERATIONS, Literal[210000])
    assert_type(QuantumStrength.HIGHEST, Literal[QuantumStrength.HIGHEST])
    assert_type(QuantumStrength.HIGHEST.value, Literal[2])
    assert_type(SignatureAlgorithm(2), SignatureAlgorithm)
    try:
        aes_core.decrypt_str("token", "key")
    except tesmar.DecryptionError as e:
        assert_type(e, tesmar.errors.DecryptionError)
        root: tesmar.TesmarError = e
        assert_type(root.args, tuple[Any, ...])


async def coroutine_functions(private_pem: str, public_pem: str, blob: bytes) -> None:
    pending: Coroutine[Any, Any, str] = aes.encrypt("text", "key")
    assert_type(await pending, str)
    assert_type(await aes.decrypt_bytes(blob, "key"), bytes)
    assert_type(await rsa.new_key_pair(), tuple[str, str])
    assert_type(await rsa.verify("text", "sig", public_pem), bool)
    assert_type(await hybrid.decrypt(b"dG9rZW4=", private_pem), str)
    assert_type(await password.verify("pw", "{}"), bool)
    assert_type(await quantum.generate_signature_keypair(SignatureAlgorithm.SLH_DSA), tuple[bytes, bytes])
    assert_type(await quantum.verify(blob, blob, blob), bool)


def sync_facade(private_pem: str, public_pem: str, blob: bytes) -> None:
    assert_type(sync.aes.encrypt("text", "key"), str)
    assert_type(sync.rsa.sign_bytes(blob, private_pem), bytes)
    assert_type(sync.hybrid.decrypt_bytes(blob, private_pem), bytes)
    assert_type(sync.password.hash("pw"), str)
    assert_type(sync.quantum.generate_keypair(), tuple[bytes, bytes])
    assert_type(tesmar.sync.quantum.encrypt("text", blob), tuple[bytes, bytes])


async def mistakes(public_pem: str, blob: bytes) -> None:
    # bytes where text is meant
    aes_core.encrypt_str(b"text", "key")  # type: ignore[arg-type]
    sync.rsa.encrypt("text", public_pem.encode())  # type: ignore[arg-type]
    await password.hash(b"pw")  # type: ignore[arg-type]
    # text where bytes are meant
    aes_core.encrypt_bytes("data", "key")  # type: ignore[arg-type]
    await quantum.sign("data", blob)  # type: ignore[arg-type]
    # a wrong enumeration: another enum's member, a member that does not exist, an enum for text
    generation: QuantumGeneration = QuantumStrength.HIGHEST  # type: ignore[assignment]
    quantum_core.generate_keypair(QuantumGeneration.GEN9)  # type: ignore[attr-defined]
    quantum_core.encrypt(QuantumGeneration.GEN8, blob)  # type: ignore[arg-type]
    sync.quantum.generate_keypair(strength="HIGHEST")  # type: ignore[arg-type]
    # a text result taken for a number, a missing argument, a coroutine used without await
    count: int = aes_core.encrypt_str("text", "key")  # type: ignore[assignment]
    rsa_core.encrypt_str("text")  # type: ignore[call-arg]
    token: str = aes.encrypt("text", "key")  # type: ignore[assignment]
    del generation, count, token
