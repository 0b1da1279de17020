"""The coroutine functions of the family packages and the tesmar.sync facade."""
import asyncio
import inspect
import threading

import pytest

import tesmar
import tesmar.sync
from tesmar.errors import InvalidInputError

# (package, coroutine name, core function name, parameters, return annotation)
ASYNC_ROWS = [
    ("aes", "encrypt", "encrypt_str", [("plaintext", "str"), ("key", "str")], "str"),
    ("aes", "decrypt", "decrypt_str", [("ciphertext_b64", "str"), ("key", "str")], "str"),
    ("aes", "encrypt_bytes", "encrypt_bytes", [("data", "bytes"), ("key", "str")], "bytes"),
    ("aes", "decrypt_bytes", "decrypt_bytes", [("blob", "bytes"), ("key", "str")], "bytes"),
]

# (facade instance, method, core function)
FACADE_ROWS = [
    ("aes", "encrypt", "encrypt_str"),
    ("aes", "decrypt", "decrypt_str"),
    ("aes", "encrypt_bytes", "encrypt_bytes"),
    ("aes", "decrypt_bytes", "decrypt_bytes"),
]

ALL = {
    "aes": ["encrypt", "decrypt", "encrypt_bytes", "decrypt_bytes", "core"],
}


@pytest.mark.parametrize("package, names", ALL.items())
def test_package_all(package, names):
    assert getattr(tesmar, package).__all__ == names


@pytest.mark.parametrize("package, name, core_name, params, returns", ASYNC_ROWS)
def test_coroutine_function_shape(package, name, core_name, params, returns):
    fn = getattr(getattr(tesmar, package), name)
    assert inspect.iscoroutinefunction(fn)
    sig = inspect.signature(fn)
    assert [(p.name, p.annotation) for p in sig.parameters.values()] == params
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in sig.parameters.values())
    assert sig.return_annotation == returns


@pytest.mark.parametrize("package, name, core_name, params, returns", ASYNC_ROWS)
def test_coroutine_runs_its_core_function_on_a_worker_thread(monkeypatch, package, name, core_name, params, returns):
    family = getattr(tesmar, package)
    seen = {}

    def fake(*args):
        seen["args"] = args
        seen["thread"] = threading.get_ident()
        return "result"

    # looked up on the package's core at await time, not bound at import
    monkeypatch.setattr(family.core, core_name, fake)
    args = tuple(f"arg{i}" for i in range(len(params)))
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
    for inst, cls in [("aes", "_AES"), ("rsa", "_RSA"), ("hybrid", "_Hybrid"), ("password", "_Password"), ("quantum", "_Quantum")]:
        klass = getattr(tesmar.sync, cls)
        assert type(getattr(tesmar.sync, inst)) is klass and klass.__bases__ == (object,)
    assert tesmar.sync._aes_core is tesmar.aes.core


@pytest.mark.parametrize("instance, method, core_name", FACADE_ROWS)
def test_facade_methods_are_the_core_functions(instance, method, core_name):
    core = getattr(tesmar, instance).core
    cls = type(getattr(tesmar.sync, instance))
    assert getattr(getattr(tesmar.sync, instance), method) is getattr(core, core_name)
    assert getattr(cls, method) is getattr(core, core_name)
    assert isinstance(cls.__dict__[method], staticmethod)


def test_facade_calls_on_class_and_instance():
    token = tesmar.sync._AES.encrypt("facade", "k")
    assert tesmar.sync.aes.decrypt(token, "k") == "facade"
    with pytest.raises(TypeError) as a:
        tesmar.sync.aes.encrypt("x")
    with pytest.raises(TypeError) as b:
        tesmar.aes.core.encrypt_str("x")
    assert str(a.value) == str(b.value)
