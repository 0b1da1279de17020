"""The package surface: module tree, exports, error classes and native function metadata."""
import inspect
import pickle
import subprocess
import sys
import textwrap

import pytest

import tesmar
from tesmar import errors

ERROR_NAMES = [
    "TesmarError",
    "InvalidInputError",
    "EncryptionError",
    "DecryptionError",
    "SignatureError",
    "QuantumOperationError",
]


def run_fresh(code):
    """Runs code in a fresh interpreter and returns its stdout."""
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return out.stdout


def test_submodule_import_in_fresh_interpreter_loads_parents_first():
    out = run_fresh(
        """
        import sys
        import tesmar.aes.core
        loaded = [m for m in sys.modules if m == "tesmar" or m.startswith("tesmar.")]
        print(",".join(loaded))
        import tesmar
        print(sys.modules["tesmar.aes.core"] is tesmar.aes.core)
        from tesmar.quantum import types
        from tesmar.errors import DecryptionError
        print(DecryptionError is tesmar.DecryptionError, types is sys.modules["tesmar.quantum.types"])
        """
    )
    loaded, same, classes = out.splitlines()
    loaded = set(loaded.split(","))
    assert {"tesmar", "tesmar.aes", "tesmar.errors", "tesmar.aes.core", "tesmar._internal.keys", "tesmar.sync"} <= loaded
    assert same == "True" and classes == "True True"


def test_every_module_is_an_attribute_of_its_parent():
    import sys

    for name, module in list(sys.modules.items()):
        if name.startswith("tesmar."):
            parent, _, child = name.rpartition(".")
            assert getattr(sys.modules[parent], child) is module, name
            assert module.__name__ == name


# What modules bind from elsewhere when they load: the very objects those names stand for.
IMPORTED = [
    ("tesmar._internal.keys", "base64", "base64"),
    ("tesmar._internal.keys", "hashlib", "hashlib"),
    ("tesmar.aes.core", "os", "os"),
    ("tesmar.aes.core", "convert_key", "tesmar._internal.keys.convert_key"),
    ("tesmar.aes.core", "DecryptionError", "tesmar.errors.DecryptionError"),
    ("tesmar.rsa.core", "SignatureError", "tesmar.errors.SignatureError"),
    ("tesmar.hybrid.core", "rsa_core", "tesmar.rsa.core"),
    ("tesmar.hybrid.core", "aes_core", "tesmar.aes.core"),
    ("tesmar.password.core", "TesmarError", "tesmar.errors.TesmarError"),
    ("tesmar.quantum._oqs", "QuantumOperationError", "tesmar.errors.QuantumOperationError"),
    ("tesmar.quantum.core", "_oqs", "tesmar.quantum._oqs"),
    ("tesmar.quantum.core", "_OAEP", "tesmar.rsa.core._OAEP"),
    ("tesmar.quantum.core", "QuantumStrength", "tesmar.quantum.types.QuantumStrength"),
    ("tesmar.quantum", "core", "tesmar.quantum.core"),
    ("tesmar.quantum", "asyncio", "asyncio"),
    ("tesmar.sync", "_pw_core", "tesmar.password.core"),
    ("tesmar.sync", "_q_core", "tesmar.quantum.core"),
]


def resolve(dotted):
    import importlib

    try:
        return importlib.import_module(dotted)
    except ImportError:
        module, _, attribute = dotted.rpartition(".")
        return getattr(importlib.import_module(module), attribute)


@pytest.mark.parametrize("module, name, target", IMPORTED, ids=[f"{m}.{n}" for m, n, _ in IMPORTED])
def test_modules_bind_the_objects_they_import(module, name, target):
    assert getattr(resolve(module), name) is resolve(target)


def test_module_bodies_run_once_and_package_members_have_paths():
    out = run_fresh(
        """
        import importlib, sys
        import tesmar
        first = {n: id(m) for n, m in sys.modules.items() if n.startswith("tesmar")}
        for n in first:
            importlib.import_module(n)
        print(all(id(sys.modules[n]) == i for n, i in first.items()))
        print(sorted(n for n in first if hasattr(sys.modules[n], "__path__")))
        """
    )
    same, packages = out.splitlines()
    assert same == "True"
    assert eval(packages) == sorted(
        ["tesmar", "tesmar._internal", "tesmar.aes", "tesmar.hybrid", "tesmar.password", "tesmar.quantum", "tesmar.rsa"]
    )


def test_internal_package_has_no_public_names_but_keys():
    public = {n for n in vars(tesmar._internal) if not n.startswith("_")}
    assert public == {"keys"}
    assert tesmar._internal._openssl_version().startswith("OpenSSL ")


def test_import_does_not_load_liboqs():
    out = run_fresh(
        """
        import tesmar
        print(any("liboqs" in line for line in open("/proc/self/maps")))
        """
    )
    assert out.strip() == "False"


def test_exports_and_version():
    assert tesmar.__all__ == ["__version__", "aes", "rsa", "hybrid", "password", "quantum", "sync", "errors"] + ERROR_NAMES
    assert all(hasattr(tesmar, name) for name in tesmar.__all__)
    assert tesmar.__version__ == tesmar.version.__version__ == "1.0.10"
    ns = {}
    exec("from tesmar import *", ns)
    assert sorted(k for k in ns if k != "__builtins__") == sorted(tesmar.__all__)


@pytest.mark.parametrize("name", ERROR_NAMES)
def test_error_classes(name):
    cls = getattr(errors, name)
    assert getattr(tesmar, name) is cls
    assert cls.__module__ == "tesmar.errors" and cls.__qualname__ == name
    expected_base = Exception if name == "TesmarError" else errors.TesmarError
    assert issubclass(cls, expected_base) and not issubclass(cls, ValueError)
    siblings = [getattr(errors, other) for other in ERROR_NAMES if other not in (name, "TesmarError")]
    assert not any(issubclass(cls, other) for other in siblings)
    with pytest.raises(expected_base):
        raise cls("caught by its parent")
    e = cls("Data cannot be empty")
    assert str(e) == "Data cannot be empty" and e.args == ("Data cannot be empty",)


def test_wrapped_errors_carry_cause_and_suppress_context():
    with pytest.raises(errors.DecryptionError) as info:
        tesmar.aes.core.decrypt_str("not base64!", "k")
    assert info.value.__cause__ is not None and info.value.__suppress_context__


def test_unwrapped_errors_have_no_cause():
    with pytest.raises(errors.DecryptionError) as info:
        tesmar.aes.core.decrypt_bytes(b"x" * 40, "k")
    assert info.value.__cause__ is None


def test_native_function_metadata():
    f = tesmar.aes.core.encrypt_str
    assert (f.__name__, f.__qualname__, f.__module__) == ("encrypt_str", "encrypt_str", "tesmar.aes.core")
    assert f.__doc__ and "Base64" in f.__doc__
    sig = inspect.signature(f)
    assert str(sig) == "(plaintext: 'str', key: 'str') -> 'str'"
    assert f.__annotations__ == {"plaintext": "str", "key": "str", "return": "str"}
    assert inspect.signature(tesmar._internal.keys._try_base64).return_annotation == "bytes | None"
    assert pickle.loads(pickle.dumps(f)) is f


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda f: f("x"), "encrypt_str() missing 1 required positional argument: 'key'"),
        (lambda f: f(), "encrypt_str() missing 2 required positional arguments: 'plaintext' and 'key'"),
        (lambda f: f("x", "k", "z"), "encrypt_str() takes 2 positional arguments but 3 were given"),
        (lambda f: f("x", plaintext="y"), "encrypt_str() got multiple values for argument 'plaintext'"),
        (lambda f: f("x", "k", nonce=b""), "encrypt_str() got an unexpected keyword argument 'nonce'"),
    ],
)
def test_argument_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(tesmar.aes.core.encrypt_str)
    assert str(info.value) == message


def test_keyword_arguments_in_any_order():
    core = tesmar.aes.core
    blob = core.encrypt_bytes(key="k", data=b"abc")
    assert core.decrypt_bytes(key="k", blob=blob) == b"abc"


def test_help_lists_native_functions():
    import pydoc

    text = pydoc.render_doc(tesmar.aes.core, renderer=pydoc.plaintext)
    # pydoc shows annotation texts unquoted from Python 3.14 on.
    if sys.version_info >= (3, 14):
        assert "encrypt_str(plaintext: str, key: str) -> str" in text
    else:
        assert "encrypt_str(plaintext: 'str', key: 'str') -> 'str'" in text
