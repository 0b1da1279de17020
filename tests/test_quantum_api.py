"""The post-quantum family's coroutine functions and facade rows, and life without liboqs."""
import asyncio
import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import tesmar
from quantum_keys import scheme_pair
from tesmar import quantum, sync
from tesmar.errors import InvalidInputError
from tesmar.quantum import _oqs, core
from tesmar.quantum.types import QuantumGeneration, QuantumStrength, SignatureAlgorithm

OPERATIONS = ["generate_keypair", "encrypt", "decrypt", "generate_signature_keypair", "sign", "verify"]


def test_enumerations():
    assert QuantumGeneration(8) is QuantumGeneration.GEN8
    assert int(QuantumStrength.HIGHEST) == 2 and SignatureAlgorithm.ML_DSA == 1
    assert [m.value for m in QuantumGeneration] == list(range(1, 9))
    for cls, bad in [(QuantumStrength, 3), (QuantumGeneration, 0), (SignatureAlgorithm, 3)]:
        with pytest.raises(ValueError):
            cls(bad)


def test_defaults_are_the_members():
    params = inspect.signature(quantum.generate_keypair).parameters
    assert params["generation"].default is QuantumGeneration.GEN8
    assert params["strength"].default is QuantumStrength.HIGHEST
    assert params["generation"].annotation == "QuantumGeneration | int"
    params = inspect.signature(core.generate_signature_keypair).parameters
    assert params["algorithm"].default is SignatureAlgorithm.ML_DSA


def test_awaited_round_trips():
    async def scenario():
        public, private = await quantum.generate_keypair(QuantumGeneration.GEN8, QuantumStrength.STANDARD)
        (s1, e1), (s2, e2) = await asyncio.gather(quantum.encrypt("one", public), quantum.encrypt("two", public))
        texts = await asyncio.gather(quantum.decrypt(e1, private, s1), quantum.decrypt(e2, private, s2))
        sig_public, sig_private = await quantum.generate_signature_keypair(SignatureAlgorithm.ML_DSA, 0)
        signature = await quantum.sign(b"data", sig_private)
        return texts, await quantum.verify(b"data", signature, sig_public)

    assert asyncio.run(scenario()) == (["one", "two"], True)


def test_errors_surface_at_the_await():
    async def scenario():
        pending = quantum.encrypt("text", b"\x06\x01")  # nothing runs yet
        with pytest.raises(InvalidInputError, match="^Invalid or empty quantum public key$"):
            await pending

    asyncio.run(scenario())


def test_facade_calls_the_core():
    public, private = scheme_pair(8, 2)
    secret, enc = sync.quantum.encrypt("facade", public)
    assert sync._Quantum.decrypt(enc, private, secret) == "facade"


# ---- without liboqs ------------------------------------------------------------------------------

NO_LIBOQS = textwrap.dedent(
    r"""
    import asyncio, ctypes, os, sys
    for name in ("liboqs.so", "liboqs.so.9", "liboqs.so.10", "liboqs.so.8"):
        try:
            ctypes.CDLL(name)
        except OSError:
            continue
        print("SKIP: a liboqs is installed where the loader always looks")
        sys.exit(0)
    import importlib.util
    if importlib.util.find_spec("tesmar_liboqs"):
        print("SKIP: the tesmar[quantum] companion carrying liboqs is installed")
        sys.exit(0)

    import tesmar
    from tesmar import aes, quantum
    from tesmar.errors import QuantumOperationError
    from tesmar.quantum import _oqs, core

    MESSAGE = ("Post-quantum support requires the native liboqs binding. "
               "Install it with:  pip install 'tesmar[quantum]'")

    # Everything that needs no liboqs works.
    assert aes.core.decrypt_str(aes.core.encrypt_str("still here", "key"), "key") == "still here"
    assert _oqs.mlkem_alg(1) == "ML-KEM-768" and _oqs.sig_algorithm("mldsa", 2) == "ML-DSA-87"

    def raw_rsa():
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import padding, rsa
        key = rsa.generate_private_key(65537, 2048)
        pub = key.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)
        priv = key.private_bytes(serialization.Encoding.DER, serialization.PrivateFormat.TraditionalOpenSSL,
                                 serialization.NoEncryption())
        oaep = padding.OAEP(padding.MGF1(hashes.SHA256()), hashes.SHA256(), None)
        block = key.public_key().encrypt(bytes(32), oaep)
        return pub, priv, block

    rsa_pub, rsa_priv, block = raw_rsa()
    u32 = lambda b: len(b).to_bytes(4, "little") + b
    calls = {
        "_oqs": lambda: _oqs._oqs(),
        "adapter generate_keypair": lambda: _oqs.generate_keypair("ML-KEM-512"),
        "encapsulate": lambda: _oqs.encapsulate("ML-KEM-512", b""),
        "decapsulate": lambda: _oqs.decapsulate("ML-KEM-512", b"", b""),
        "sig_generate_keypair": lambda: _oqs.sig_generate_keypair("ML-DSA-44"),
        "sig_sign": lambda: _oqs.sig_sign("ML-DSA-44", b"", b""),
        "sig_verify": lambda: _oqs.sig_verify("ML-DSA-44", b"", b"", b""),
        "sig_algorithm": lambda: _oqs.sig_algorithm("slhdsa", 0),
        "generate_signature_keypair": lambda: core.generate_signature_keypair(),
        "slh generate_signature_keypair": lambda: core.generate_signature_keypair(2, 0),
        "sign": lambda: core.sign(b"data", b"\x01\x02key"),
        "sign of unusable data": lambda: core.sign(None, b"\x01\x02key"),
        "verify": lambda: core.verify(b"data", b"signature", b"\x01\x02key"),
        "awaited": lambda: asyncio.run(quantum.generate_keypair()),
        "encrypt 7": lambda: core.encrypt("x", b"\x07\x00" + u32(rsa_pub) + b"frodo"),
        "decrypt 7": lambda: core.decrypt(bytes(60), b"\x07\x00" + u32(rsa_priv) + b"frodo", u32(block) + b"c"),
    }
    for generation in range(1, 9):
        calls[f"generate_keypair {generation}"] = lambda g=generation: core.generate_keypair(g, 0)
    for scheme in (2, 4, 5, 6, 8):
        calls[f"encrypt {scheme}"] = lambda s=scheme: core.encrypt("x", bytes([s, 0]) + b"\x01" * 40)
        calls[f"decrypt {scheme}"] = lambda s=scheme: core.decrypt(bytes(100), bytes([s, 0]) + b"\x01" * 40,
                                                                   b"\x01\x00\x00\x00" + b"\x01" * 40)
    for name, call in calls.items():
        try:
            call()
        except QuantumOperationError as e:
            assert str(e) == MESSAGE, (name, str(e))
            assert isinstance(e.__cause__, ImportError) and "liboqs" in str(e.__cause__), (name, e.__cause__)
        else:
            raise AssertionError(f"{name} did not fail")

    # A library that appears later is picked up by the next call.
    os.symlink(sys.argv[1], os.path.join(sys.argv[2], "liboqs.so"))
    assert _oqs._oqs().version
    print("OK", len(calls))
    """
)


def test_without_liboqs_everything_else_works_and_quantum_operations_say_how_to_install(tmp_path):
    library = os.path.realpath(_oqs._oqs().path)
    empty = tmp_path / "lib"
    empty.mkdir()
    env = dict(os.environ, LD_LIBRARY_PATH=str(empty))
    result = subprocess.run([sys.executable, "-c", NO_LIBOQS, library, str(empty)], env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    if result.stdout.startswith("SKIP"):
        pytest.skip(result.stdout.strip())
    assert result.stdout.startswith("OK")


def test_import_does_not_need_liboqs():
    code = "import sys, tesmar; assert not any('liboqs' in l for l in open('/proc/self/maps')); print('ok')"
    env = dict(os.environ, LD_LIBRARY_PATH="")
    result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0 and result.stdout.strip() == "ok", result.stderr
    assert tesmar.quantum is quantum
