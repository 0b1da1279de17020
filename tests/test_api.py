"""The coroutine functions of the family packages and the tesmar.sync facade."""
import asyncio
import inspect
import threading

import pytest

import tesmar
import tesmar.sync
from tesmar.errors import InvalidInputError

# Every coroutine function of the five families: (package, coroutine, core function it runs, its
# signature). The tesmar.sync facade has the same methods, and each is the core function itself.
ROWS = [
    ("aes", "encrypt", "encrypt_str", "(plaintext: 'str', key: 'str') -> 'str'"),
    ("aes", "decrypt", "decrypt_str", "(ciphertext_b64: 'str', key: 'str') -> 'str'"),
    ("aes", "encrypt_bytes", "encrypt_bytes", "(data: 'bytes', key: 'str') -> 'bytes'"),
    ("aes", "decrypt_bytes", "decrypt_bytes", "(blob: 'bytes', key: 'str') -> 'bytes'"),
    ("rsa", "new_key_pair", "new_key_pair", "() -> 'tuple[str, str]'"),
    ("rsa", "encrypt", "encrypt_str", "(plaintext: 'str', public_pem: 'str') -> 'str'"),
    ("rsa", "decrypt", "decrypt_str", "(ciphertext_b64: 'str', private_pem: 'str') -> 'str'"),
    ("rsa", "encrypt_bytes", "encrypt_bytes", "(data: 'bytes', public_pem: 'str') -> 'bytes'"),
    ("rsa", "decrypt_bytes", "decrypt_bytes", "(blob: 'bytes', private_pem: 'str') -> 'bytes'"),
    ("rsa", "sign", "sign_str", "(plaintext: 'str', private_pem: 'str') -> 'str'"),
    ("rsa", "verify", "verify_str", "(plaintext: 'str', signature_b64: 'str', public_pem: 'str') -> 'bool'"),
    ("rsa", "sign_bytes", "sign_bytes", "(data: 'bytes', private_pem: 'str') -> 'bytes'"),
    ("rsa", "verify_bytes", "verify_bytes", "(data: 'bytes', signature: 'bytes', public_pem: 'str') -> 'bool'"),
    ("hybrid", "encrypt", "encrypt_str", "(plaintext: 'str', public_pem: 'str') -> 'str'"),
    ("hybrid", "decrypt", "decrypt_str", "(ciphertext_b64: 'str', private_pem: 'str') -> 'str'"),
    ("hybrid", "encrypt_bytes", "encrypt_bytes", "(data: 'bytes', public_pem: 'str') -> 'bytes'"),
    ("hybrid", "decrypt_bytes", "decrypt_auto", "(blob: 'bytes', private_pem: 'str') -> 'bytes'"),
    ("password", "hash", "hash_password", "(password: 'str', iterations: 'int' = 210000) -> 'str'"),
    ("password", "verify", "verify_password", "(password: 'str', hash_json: 'str') -> 'bool'"),
    ("password", "needs_rehash", "needs_rehash", "(hash_json: 'str') -> 'bool'"),
    ("quantum", "generate_keypair", "generate_keypair",
     "(generation: 'QuantumGeneration | int' = <QuantumGeneration.GEN8: 8>, "
     "strength: 'QuantumStrength | int' = <QuantumStrength.HIGHEST: 2>) -> 'tuple[bytes, bytes]'"),
    ("quantum", "encrypt", "encrypt", "(message: 'str', public_key: 'bytes') -> 'tuple[bytes, bytes]'"),
    ("quantum", "decrypt", "decrypt", "(encrypted_message: 'bytes', private_key: 'bytes', secret: 'bytes') -> 'str'"),
    ("quantum", "generate_signature_keypair", "generate_signature_keypair",
     "(algorithm: 'SignatureAlgorithm | int' = <SignatureAlgorithm.ML_DSA: 1>, "
     "strength: 'QuantumStrength | int' = <QuantumStrength.HIGHEST: 2>) -> 'tuple[bytes, bytes]'"),
    ("quantum", "sign", "sign", "(data: 'bytes', private_key: 'bytes') -> 'bytes'"),
    ("quantum", "verify", "verify", "(data: 'bytes', signature: 'bytes', public_key: 'bytes') -> 'bool'"),
]
IDS = [f"{package}.{name}" for package, name, _, _ in ROWS]
FACADES = {"aes": "_AES", "rsa": "_RSA", "hybrid": "_Hybrid", "password": "_Password", "quantum": "_Quantum"}


@pytest.mark.parametrize("package", FACADES)
def test_package_all_lists_its_coroutines_then_core(package):
    names = [name for p, name, _, _ in ROWS if p == package]
    extra = ["QuantumGeneration", "QuantumStrength", "SignatureAlgorithm"] if package == "quantum" else []
    assert getattr(tesmar, package).__all__ == names + extra + ["core"]


@pytest.mark.parametrize("package, name, core_name, signature", ROWS, ids=IDS)
def test_coroutine_has_its_core_functions_signature(package, name, core_name, signature):
    family = getattr(tesmar, package)
    fn = getattr(family, name)
    assert inspect.iscoroutinefunction(fn)
    assert str(inspect.signature(fn)) == signature
    assert inspect.signature(fn) == inspect.signature(getattr(family.core, core_name))
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in inspect.signature(fn).parameters.values())


@pytest.mark.parametrize("package, name, core_name, signature", ROWS, ids=IDS)
def test_coroutine_runs_its_core_function_on_a_worker_thread(monkeypatch, package, name, core_name, signature):
    family = getattr(tesmar, package)
    seen = {}

    def fake(*args):
        seen["args"] = args
        seen["thread"] = threading.get_ident()
        return "result"

    # looked up on the package's core at await time, not bound at import
    monkeypatch.setattr(family.core, core_name, fake)
    args = tuple(f"arg{i}" for i in range(len(inspect.signature(getattr(family, name)).parameters)))
    coro = getattr(family, name)(*args)
    assert seen == {}  # nothing runs at call time
    assert asyncio.run(coro) == "result"
    assert seen["args"] == args and seen["thread"] != threading.get_ident()


def test_async_aes_round_trip_and_interchangeable_with_core():
    async def main():
        token = await tesmar.aes.encrypt("hello", "k")
        blob = await tesmar.aes.encrypt_bytes(data=b"bytes", key="k")
        return token, blob, await tesmar.aes.decrypt(token, "k"), await tesmar.aes.decrypt_bytes(blob, "k")

    token, blob, text, data = asyncio.run(main())
    assert (text, data) == ("hello", b"bytes")
    assert tesmar.aes.core.decrypt_str(token, "k") == "hello"


def test_async_errors_raise_at_the_await():
    coro = tesmar.aes.encrypt_bytes(b"", "k")
    with pytest.raises(InvalidInputError, match="^Data cannot be empty$"):
        asyncio.run(coro)


def test_binding_errors_raise_at_the_call():
    with pytest.raises(TypeError):
        tesmar.aes.encrypt("only one")


def test_gathered_calls_each_get_their_own_result():
    async def main():
        tokens = await asyncio.gather(*(tesmar.aes.encrypt(f"msg {i}", f"key {i}") for i in range(8)))
        return await asyncio.gather(*(tesmar.aes.decrypt(t, f"key {i}") for i, t in enumerate(tokens)))

    assert asyncio.run(main()) == [f"msg {i}" for i in range(8)]


def test_facade_module_shape():
    assert tesmar.sync.__all__ == ["aes", "rsa", "hybrid", "password", "quantum"]
    for instance, cls in FACADES.items():
        assert type(getattr(tesmar.sync, instance)) is getattr(tesmar.sync, cls)
    assert tesmar.sync._aes_core is tesmar.aes.core


@pytest.mark.parametrize("package, name, core_name, signature", ROWS, ids=IDS)
def test_facade_methods_are_the_core_functions(package, name, core_name, signature):
    core = getattr(tesmar, package).core
    cls = getattr(tesmar.sync, FACADES[package])
    assert getattr(getattr(tesmar.sync, package), name) is getattr(core, core_name)
    assert getattr(cls, name) is getattr(core, core_name)
    assert isinstance(cls.__dict__[name], staticmethod)
    assert sorted(n for n in vars(cls) if not n.startswith("__")) == sorted(n for p, n, _, _ in ROWS if p == package)


def test_facade_calls_on_class_and_instance():
    token = tesmar.sync._AES.encrypt("facade", "k")
    assert tesmar.sync.aes.decrypt(token, "k") == "facade"
    with pytest.raises(TypeError) as a:
        tesmar.sync.aes.encrypt("x")
    with pytest.raises(TypeError) as b:
        tesmar.aes.core.encrypt_str("x")
    assert str(a.value) == str(b.value)
