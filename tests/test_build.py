"""The built extension: what it links, what it exports, and sharing a process with the
interpreter's own libcrypto (hashlib, ssl)."""
import shutil
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

import tesmar

EXTENSION = Path(tesmar.__spec__.origin if tesmar.__spec__ and tesmar.__spec__.origin else tesmar.__file__)
ROOT = Path(__file__).resolve().parent.parent
STATIC = "libcrypto" not in subprocess.run(["ldd", str(EXTENSION)], capture_output=True, text=True).stdout


def test_only_the_init_function_is_exported():
    nm = shutil.which("nm")
    if not nm:
        pytest.skip("nm (binutils) is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", str(EXTENSION)], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit_tesmar"]


def test_extension_uses_only_the_stable_abi():
    # One file for every CPython from 3.13 on: named for the stable ABI, and importing nothing from
    # the interpreter outside the stable ABI of 3.13 (abi3audit knows which symbols that is).
    assert EXTENSION.name.endswith(".abi3.so")
    audit = Path(sys.executable).parent / "abi3audit"
    if not audit.exists():
        pytest.skip("abi3audit is not installed (make setup installs it)")
    result = subprocess.run([str(audit), "--strict", "--assume-minimum-abi3", "3.13", str(EXTENSION)],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


def test_default_build_links_the_pinned_openssl_statically():
    if not STATIC:
        pytest.skip("this is the system-OpenSSL build (TESMAR_OPENSSL=system)")
    with open(ROOT / "deps" / "pins.toml", "rb") as f:
        pinned = tomllib.load(f)["openssl"]["version"]
    assert tesmar._internal._openssl_version() == f"OpenSSL {pinned}" or \
        tesmar._internal._openssl_version().startswith(f"OpenSSL {pinned} ")


SHARED_PROCESS = """
import hashlib, ssl, sys
import tesmar
from tesmar.aes import core
from tesmar.rsa import core as rsa
assert hashlib.sha256(b"abc").hexdigest().startswith("ba7816bf")
ctx = ssl.create_default_context()
token = core.encrypt_bytes(b"x" * 5000, "key text")
assert core.decrypt_bytes(token, "key text") == b"x" * 5000
private, public = rsa.new_key_pair()
assert rsa.verify_bytes(b"m", rsa.sign_bytes(b"m", private), public)
assert hashlib.pbkdf2_hmac("sha512", b"p", b"s" * 16, 10).hex()
print(ssl.OPENSSL_VERSION, "|", tesmar._internal._openssl_version())
"""


def test_shares_a_process_with_the_interpreters_libcrypto():
    result = subprocess.run([sys.executable, "-c", SHARED_PROCESS], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    interpreter, ours = result.stdout.strip().split(" | ")
    if STATIC:
        # Two OpenSSLs in one process, each calling its own code.
        assert interpreter != ours


def test_quantum_extra_pins_the_companion_at_the_pinned_liboqs():
    with open(ROOT / "deps" / "pins.toml", "rb") as f:
        liboqs = tomllib.load(f)["liboqs"]["version"]
    with open(ROOT / "pyproject.toml", "rb") as f:
        extras = tomllib.load(f)["project"]["optional-dependencies"]
    assert extras["quantum"] == [f"tesmar-liboqs=={liboqs}"]
