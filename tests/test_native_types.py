"""The extension's own types (native functions, parsed keys, padding parameters) and the type names
its TypeErrors give: all built through the stable ABI, and each able to go wrong there."""
import collections
import datetime
import gc
import subprocess
import sys

import pytest

import tesmar
from tesmar.aes import core as aes
from tesmar.password import core as password
from tesmar.rsa import core as rsa


class Plain:
    pass


class Outer:
    class Inner:
        pass


def interpreter_type_name(obj):
    """The interpreter's own name for type(obj) in its messages."""
    with pytest.raises(AttributeError) as info:
        obj.no_such_attribute_anywhere
    return str(info.value).split("'")[1]


# Built-in types, static types of extension modules (named with their module), classes (named by
# their own name, nested or not).
OBJECTS = [1, None, 2.5, [], datetime.date(2020, 1, 1), collections.OrderedDict(), Plain(), Outer.Inner()]
# Each argument check that names the type of what it was given, and how it quotes it.
CHECKS = [
    (lambda o: aes.encrypt_str(o, "key"), "plaintext must be str, not {}"),
    (lambda o: password.verify_password("pw", o), "hash_json must be str, not {}"),
    (lambda o: rsa._load_public(o), "key text must be str, not {}"),
    (lambda o: aes.decrypt_str(o, "key"), "argument should be a bytes-like object or ASCII string, not '{}'"),
]


@pytest.mark.parametrize("obj", OBJECTS, ids=lambda o: type(o).__qualname__)
@pytest.mark.parametrize("check, message", CHECKS)
def test_type_errors_name_the_type_as_the_interpreter_does(check, message, obj):
    with pytest.raises(Exception) as info:
        check(obj)
    err = info.value
    # Some operations report the conversion's TypeError as the cause of their own error.
    text = str(err if isinstance(err, TypeError) else err.__cause__)
    assert text == message.format(interpreter_type_name(obj))


def test_key_text_must_be_ascii():
    for text in ["-----BEGIN PUBLIC KEY-----\u00e9", "\udc80"]:
        with pytest.raises(tesmar.InvalidInputError) as info:
            rsa._load_public(text)
        cause = info.value.__cause__
        assert isinstance(cause, UnicodeEncodeError) and cause.encoding == "ascii"


def native_types(rsa_keys):
    private_pem, public_pem = rsa_keys
    return {
        "function": type(aes.encrypt_str),
        "public key": type(rsa._load_public(public_pem)),
        "private key": type(rsa._load_private(private_pem)),
        "OAEP": type(rsa._OAEP),
        "PSS": type(rsa._pss()),
    }


@pytest.mark.parametrize("name", ["function", "public key", "private key", "OAEP", "PSS"])
def test_native_types_are_neither_instantiable_nor_mutable(rsa_keys, name):
    cls = native_types(rsa_keys)[name]
    assert cls.__module__.startswith("tesmar")
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_key_objects_describe_themselves(rsa_keys):
    private_pem, public_pem = rsa_keys
    public, private = rsa._load_public(public_pem), rsa._load_private(private_pem)
    assert repr(public) == "<tesmar.rsa.core.PublicKey RSA key, 4096 bits>"
    assert repr(private) == "<tesmar.rsa.core.PrivateKey RSA key, 4096 bits>"
    assert (public.key_type, public.key_size) == ("RSA", 4096)
    assert type(public).__name__ == "PublicKey" and type(public).__qualname__ == "PublicKey"


@pytest.mark.parametrize("name", ["public key", "private key", "PSS"])
def test_objects_let_go_of_their_type(rsa_keys, name):
    # Every instance of a heap type holds a reference to it: one taken and not given back leaks the
    # type, one given back twice frees it while in use.
    cls = native_types(rsa_keys)[name]
    make = {
        "public key": lambda: rsa._load_public(rsa_keys[1]),
        "private key": lambda: rsa._load_private(rsa_keys[0]),
        "PSS": rsa._pss,
    }[name]
    gc.collect()
    before = sys.getrefcount(cls)
    for _ in range(200):
        make()
    gc.collect()
    assert sys.getrefcount(cls) == before


REIMPORT = """
import gc, importlib, sys
import tesmar.aes.core
cls = type(tesmar.aes.core.encrypt_str)
counts = []
for _ in range(3):
    del sys.modules["tesmar.aes.core"]
    importlib.import_module("tesmar.aes.core")
    gc.collect()
    counts.append(sys.getrefcount(cls))
print(counts)
"""


def test_native_functions_let_go_of_their_type():
    # A core module imported again gets new native functions, and the old module's go with it
    # (in a process of its own: the suite's modules stay as they are).
    out = subprocess.run([sys.executable, "-c", REIMPORT], capture_output=True, text=True, check=True).stdout
    counts = eval(out)
    assert counts[0] == counts[1] == counts[2]
