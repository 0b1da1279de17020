"""Tools see the frozen modules: pkgutil lists them, inspect and tracebacks show their source."""
import asyncio
import importlib
import inspect
import pkgutil
import subprocess
import sys
import traceback

import pytest

import tesmar
from test_package import run_fresh

# What `import tesmar` loads, besides the extension itself.
FROZEN = [
    "tesmar._internal",
    "tesmar._internal.keys",
    "tesmar.aes",
    "tesmar.aes.core",
    "tesmar.errors",
    "tesmar.hybrid",
    "tesmar.hybrid.core",
    "tesmar.password",
    "tesmar.password.core",
    "tesmar.quantum",
    "tesmar.quantum._oqs",
    "tesmar.quantum.core",
    "tesmar.quantum.types",
    "tesmar.rsa",
    "tesmar.rsa.core",
    "tesmar.sync",
    "tesmar.version",
]
# Loaded only when imported: the command line and the file functions.
ON_REQUEST = ["tesmar.__main__", "tesmar.cli", "tesmar.files", "tesmar.files.core"]
EVERY = sorted(FROZEN + ON_REQUEST)


def test_import_loads_the_same_modules_as_before():
    out = run_fresh(
        """
        import sys
        before = set(sys.modules)
        import tesmar
        print(sorted(n for n in set(sys.modules) - before if n.startswith("tesmar")))
        print("pkgutil" in sys.modules, "linecache" in set(sys.modules) - before)
        """
    )
    loaded, extra = out.splitlines()
    assert eval(loaded) == ["tesmar"] + FROZEN
    assert extra == "False False"


def test_walk_packages_lists_every_frozen_module():
    names = [(m.name, m.ispkg) for m in pkgutil.walk_packages(tesmar.__path__, "tesmar.")]
    assert [n for n, _ in names] == EVERY
    assert all(ispkg == hasattr(importlib.import_module(n), "__path__") for n, ispkg in names)


@pytest.mark.parametrize("package", ["tesmar", "tesmar.quantum", "tesmar.aes"])
def test_iter_modules_lists_direct_children(package):
    module = importlib.import_module(package)
    listed = sorted(m.name for m in pkgutil.iter_modules(module.__path__, package + "."))
    assert listed == [n for n in EVERY if n.rpartition(".")[0] == package]


def test_find_spec_through_the_path_entry():
    finder = pkgutil.get_importer(tesmar.quantum.__path__[0])
    spec = finder.find_spec("tesmar.quantum.types")
    assert spec.loader is tesmar.quantum.types.__spec__.loader
    assert finder.find_spec("tesmar.aes.core") is None and finder.find_spec("tesmar.quantum.nothing") is None


def test_other_path_entries_are_left_to_the_usual_hooks(tmp_path):
    (tmp_path / "plain_module_for_hooks.py").write_text("VALUE = 3\n")
    sys.path.insert(0, str(tmp_path))
    try:
        assert importlib.import_module("plain_module_for_hooks").VALUE == 3
    finally:
        sys.path.remove(str(tmp_path))
        sys.modules.pop("plain_module_for_hooks", None)


@pytest.mark.parametrize("name", FROZEN + ["tesmar"])
def test_loader_serves_the_frozen_source(name):
    module = importlib.import_module(name)
    loader = tesmar.aes.__spec__.loader
    source = loader.get_source(name)
    assert source and compile(source, "x", "exec")
    assert module.__doc__ and module.__doc__.splitlines()[0] in source
    if name != "tesmar":  # the package itself is the extension's module, with its loader
        assert module.__spec__.loader.get_source(name) == source


def test_loader_refuses_unknown_names():
    with pytest.raises(ImportError):
        tesmar.aes.__spec__.loader.get_source("tesmar.nothing")


@pytest.mark.parametrize("func", [tesmar.aes.encrypt, tesmar.quantum.generate_keypair, tesmar.password.needs_rehash])
def test_getsource_of_glue_functions(func):
    source = inspect.getsource(func)
    assert source in tesmar.aes.__spec__.loader.get_source(func.__module__)
    assert source.startswith(f"async def {func.__name__}(") and source.rstrip().endswith(")")
    assert inspect.getsourcelines(func)[1] == func.__code__.co_firstlineno


def test_traceback_shows_glue_lines():
    with pytest.raises(tesmar.DecryptionError) as info:
        asyncio.run(tesmar.aes.decrypt("not base64!", "k"))
    text = "".join(traceback.format_exception(info.value))
    assert "return await asyncio.to_thread(core.decrypt_str, ciphertext_b64, key)" in text
    frame = next(f for f in traceback.extract_tb(info.value.__traceback__) if f.name == "decrypt")
    assert frame.filename == tesmar.__file__ + "/tesmar/aes/__init__.py"
    assert not hasattr(tesmar.aes, "__file__")


def test_frozen_modules_run_as_scripts():
    # runpy takes the code from the loader; the package has already imported the module by then
    out = subprocess.run(
        [sys.executable, "-W", "ignore::RuntimeWarning", "-c",
         "import runpy; print(runpy.run_module('tesmar.version')['__version__'])"],
        capture_output=True, text=True, timeout=120,
    )
    assert out.returncode == 0 and out.stdout.strip() == tesmar.__version__, out.stderr
