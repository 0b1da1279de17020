"""The release tooling must notice what it exists to catch: the wheel check a library that needs a
newer glibc, the wrong architecture or extra exports; the zig wrappers must hand the compiler the
arguments it understands, each one intact."""
import io
import os
import pathlib
import shutil
import subprocess
import sys
import zipfile

import pytest

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tools"
sys.path.insert(0, str(TOOLS))

import deps  # noqa: E402

import tesmar  # noqa: E402

EXTENSION = pathlib.Path(tesmar.__spec__.origin)


@pytest.fixture
def check_wheels():
    return pytest.importorskip("check_wheels", reason="pyelftools is not installed (make setup installs it)")


def wheel(tmp_path, name, members):
    path = tmp_path / name
    with zipfile.ZipFile(path, "w") as z:
        for inside, source in members.items():
            z.write(source, inside)
    return path


def this_machine():
    return os.uname().machine


# The built extension stands in for any library: named as a library beside the extension, so only
# the rules for every library apply (a system-OpenSSL build links libcrypto, which the extension
# of a wheel must not).
def test_wheel_check_passes_a_library_within_the_floor_and_reports_its_glibc(check_wheels, tmp_path, capsys):
    w = wheel(tmp_path, f"tesmar-1-cp313-abi3-linux_{this_machine()}.whl", {"tesmar/helper.so": EXTENSION})
    assert check_wheels.check(w, (99,)) == []
    assert "newest glibc symbol 2." in capsys.readouterr().out


def test_wheel_check_reports_symbols_newer_than_the_floor(check_wheels, tmp_path):
    # The native build links this machine's glibc (2.36 here): it needs symbols newer than 2.0.
    w = wheel(tmp_path, f"tesmar-1-cp313-abi3-linux_{this_machine()}.whl", {"tesmar/helper.so": EXTENSION})
    faults = check_wheels.check(w, (2, 0))
    assert len(faults) == 1 and "newer than the floor 2.0" in faults[0]


def test_wheel_check_reports_a_library_of_another_architecture(check_wheels, tmp_path):
    other = "aarch64" if this_machine() == "x86_64" else "x86_64"
    w = wheel(tmp_path, f"tesmar-1-cp313-abi3-linux_{other}.whl", {"tesmar/helper.so": EXTENSION})
    faults = check_wheels.check(w, (99,))
    assert len(faults) == 1 and f"in a wheel tagged for {other}" in faults[0]


def test_wheel_check_reports_an_extension_linking_openssl_and_exporting_another_init(check_wheels, tmp_path):
    # The interpreter's ssl module does both: it needs libcrypto and exports PyInit__ssl.
    import _ssl
    needed = subprocess.run(["ldd", _ssl.__file__], capture_output=True, text=True).stdout
    if "libcrypto" not in needed:
        pytest.skip("the interpreter's ssl module links OpenSSL statically")
    w = wheel(tmp_path, f"tesmar-1-cp313-abi3-linux_{this_machine()}.whl", {"tesmar/__init__.abi3.so": _ssl.__file__})
    faults = check_wheels.check(w, (99,))
    assert len(faults) == 2, faults
    assert "links OpenSSL dynamically" in faults[0] and "not only PyInit_tesmar" in faults[1]


def test_wheel_check_reports_a_wheel_without_a_library(check_wheels, tmp_path):
    readme = tmp_path / "README"
    readme.write_text("x")
    w = wheel(tmp_path, f"tesmar-1-cp313-abi3-linux_{this_machine()}.whl", {"tesmar/README": readme})
    assert check_wheels.check(w, (99,)) == [f"{w.name}: no shared object inside"]


@pytest.fixture
def echo_wrappers(tmp_path, monkeypatch):
    """The wrappers made for a stand-in zig that prints its arguments one a line."""
    fake = tmp_path / "fake-zig"
    fake.write_text('#!/bin/sh\nfor a; do printf "%s\\n" "$a"; done\n')
    fake.chmod(0o755)
    monkeypatch.setenv("TESMAR_CACHE_DIR", str(tmp_path / "cache"))
    monkeypatch.setattr(deps, "zig_command", lambda: [str(fake)])
    monkeypatch.setattr(deps, "zig_version", lambda: "0.0.0")

    def run(target, tool, *args):
        folder = deps.zig_wrappers(target)
        out = subprocess.run([str(folder / tool), *args], capture_output=True, text=True, check=True)
        return out.stdout.splitlines()

    return run


@pytest.mark.skipif(shutil.which("sh") is None, reason="needs a POSIX shell")
@pytest.mark.parametrize("tool", ["cc", "c++"])
def test_aarch64_wrappers_respell_arm_cpu_flags_and_keep_every_other_argument(echo_wrappers, tool):
    args = ["-O3", "-march=armv8-a+crypto", "-mcpu=cortex-a53+crypto", "-DNAME=a b", "", "-o", "x y.o"]
    assert echo_wrappers("aarch64-linux-gnu.2.28", tool, *args) == [
        tool, "-target", "aarch64-linux-gnu.2.28",
        "-O3", "-mcpu=generic+crypto", "-mcpu=cortex_a53+crypto", "-DNAME=a b", "", "-o", "x y.o"]


def test_x86_64_wrappers_pass_arguments_through(echo_wrappers):
    args = ["-march=armv8-a+crypto", "-c", "f.c"]
    assert echo_wrappers("x86_64-linux-gnu.2.28", "cc", *args) == ["cc", "-target", "x86_64-linux-gnu.2.28", *args]
    assert echo_wrappers("x86_64-linux-gnu.2.28", "ar", "rcs", "lib.a") == ["ar", "rcs", "lib.a"]


def test_unknown_targets_are_refused():
    with pytest.raises(deps.DepsError, match="unknown target"):
        deps.build("openssl", target="riscv64-linux-gnu.2.28")


@pytest.mark.skipif(shutil.which(os.environ.get("CC", "cc")) is None,
                    reason="the native key names this machine's C compiler, and there is none (a bare interpreter root)")
def test_cross_build_keys_differ_by_target_and_leave_the_native_key_alone(monkeypatch):
    # A native build must find the cache every clone made before the cross builds existed, and each
    # target its own build: keys are what keep an aarch64 libcrypto out of an x86_64 wheel.
    monkeypatch.setattr(deps, "zig_version", lambda: "0.0.0")
    pin = deps.pins()["openssl"]
    native, _ = deps.openssl_recipe(pin, "release", None)
    assert not set(native) & {*deps.TARGETS, *deps.TARGETS.values()}
    keys = {t: deps.openssl_recipe(pin, "release", t)[0] for t in deps.TARGETS}
    assert len({str(k) for k in keys.values()}) == len(deps.TARGETS)
    assert all(t in k and deps.TARGETS[t] in k for t, k in keys.items())


def test_debroot_prints_only_the_path_whatever_its_commands_print(tmp_path):
    # A fresh machine installs mmdebstrap first, and apt-get's progress must not become part of
    # the path the Makefile captures.
    script = (
        "import subprocess, sys; sys.path.insert(0, 'tools'); import debroot; "
        "debroot.print_only(lambda: (print('own noise'), subprocess.run(['echo', 'child noise']), '/the/root')[2])"
    )
    done = subprocess.run([sys.executable, "-c", script], cwd=TOOLS.parent, capture_output=True, text=True, check=True)
    assert done.stdout == "/the/root\n"
    assert "own noise" in done.stderr and "child noise" in done.stderr
