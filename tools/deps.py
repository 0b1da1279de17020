#!/usr/bin/env python3
"""Builds tesmar's pinned native dependencies into a cache outside the clone.

    python tools/deps.py openssl            # prints the install prefix of the static OpenSSL
    python tools/deps.py liboqs             # prints the install prefix of the shared liboqs
    python tools/deps.py liboqs --variant asan   # or tsan: the sanitizer builds
    python tools/deps.py fetch liboqs       # prints the path of the checked tarball
    python tools/deps.py openssl --target aarch64-linux-gnu.2.28
                                            # cross-built with zig for that CPU and glibc floor
    python tools/deps.py zig --target aarch64-linux-gnu.2.28
                                            # prints the folder of that target's cc, c++, ar, ranlib

Versions, upstream URLs and checksums come from deps/pins.toml, the only place that names them. A
tarball is taken from $TESMAR_DEPS_DIR when it holds one of the pinned name, else downloaded from
the pinned URL into the cache; its sha256 is checked either way. Each build goes to
<cache>/<name>-<version>-<key>/, where the key digests the checksum and every flag and compiler
that shapes the result, so a build is made once and reused by every clone on the machine.
<cache> is $TESMAR_CACHE_DIR, else ${XDG_CACHE_HOME:-~/.cache}/tesmar/deps.

Without --target the builds use the machine's C compiler ($CC, else cc) for the machine itself. With
--target they use `zig cc` from the `ziglang` package (installed beside the running interpreter),
which links against the glibc version named in the target (x86_64-linux-gnu.2.28: no symbol newer
than glibc 2.28), whatever the machine's own glibc; the release wheels are built that way.

Only the standard library is used: this runs inside pip's isolated build environment too.
Progress goes to standard error; standard output carries only the answer.
"""
from __future__ import annotations

import argparse
import contextlib
import fcntl
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import tomllib
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PINS = ROOT / "deps" / "pins.toml"
TOOLCHAIN = ROOT / "cmake" / "zig-toolchain.cmake"
# Bump when the recipes below change in a way the flags do not show.
RECIPE = "1"


class DepsError(Exception):
    pass


def log(text: str) -> None:
    print(f"[deps] {text}", file=sys.stderr, flush=True)


def pins() -> dict:
    with PINS.open("rb") as f:
        return tomllib.load(f)


def cache_dir() -> Path:
    if os.environ.get("TESMAR_CACHE_DIR"):
        return Path(os.environ["TESMAR_CACHE_DIR"]).expanduser()
    base = os.environ.get("XDG_CACHE_HOME") or str(Path.home() / ".cache")
    return Path(base) / "tesmar" / "deps"


def sha256_of(path: Path) -> str:
    h = hashlib.sha256()
    with path.open("rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


@contextlib.contextmanager
def locked(path: Path):
    """Serialises builds of one thing across processes (parallel clones, helpers, CI)."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "w") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


def tarball_name(name: str, pin: dict) -> str:
    return f"{name}-{pin['version']}.tar.gz"


def fetch(name: str) -> Path:
    """The pinned tarball of `name`, checked against its sha256."""
    pin = pins()[name]
    filename = tarball_name(name, pin)
    expected = pin["sha256"]
    deps_dir = os.environ.get("TESMAR_DEPS_DIR")
    if deps_dir:
        candidate = Path(deps_dir).expanduser() / filename
        if candidate.is_file():
            got = sha256_of(candidate)
            if got != expected:
                raise DepsError(
                    f"{candidate} has sha256 {got}, but deps/pins.toml pins {name} {pin['version']} at {expected}; "
                    "replace the file with the pinned release tarball")
            return candidate
        log(f"{filename} is not in TESMAR_DEPS_DIR={deps_dir}; downloading it")
    downloads = cache_dir() / "downloads"
    target = downloads / filename
    with locked(downloads / f".{filename}.lock"):
        if target.is_file() and sha256_of(target) == expected:
            return target
        log(f"downloading {pin['url']}")
        partial = target.with_suffix(".part")
        try:
            with urllib.request.urlopen(pin["url"], timeout=60) as response, partial.open("wb") as out:
                shutil.copyfileobj(response, out)
        except OSError as e:
            partial.unlink(missing_ok=True)
            raise DepsError(
                f"{name} {pin['version']} could not be had: no {filename} in TESMAR_DEPS_DIR "
                f"({deps_dir or 'not set'}) and downloading {pin['url']} failed ({e}). Put the release "
                "tarball in a folder and set TESMAR_DEPS_DIR to it") from e
        got = sha256_of(partial)
        if got != expected:
            partial.unlink()
            raise DepsError(
                f"the download of {pin['url']} has sha256 {got}, but deps/pins.toml pins {expected}; "
                f"refusing to build from it (put the pinned {filename} in TESMAR_DEPS_DIR)")
        partial.replace(target)
    return target


def tool(name: str) -> str:
    """A build tool, preferring the one beside the running interpreter (the venv's or pip's)."""
    for folder in (Path(sys.executable).parent, Path(sys.prefix) / "bin"):
        if (folder / name).is_file():
            return str(folder / name)
    found = shutil.which(name)
    if not found:
        raise DepsError(f"{name} is needed to build tesmar's dependencies and was not found "
                        f"(pip install {name})")
    return found


def compiler_id(env_name: str, default: str) -> str:
    compiler = os.environ.get(env_name, default)
    try:
        out = subprocess.run([*compiler.split(), "--version"], capture_output=True, text=True, check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        raise DepsError(f"the C compiler {compiler!r} does not run ({e}); install a C compiler (gcc)") from e
    # The same compiler is reached as cc or gcc (pip's build sets CC): key on the real file and the
    # version words, not on the name it was called by.
    first = out.stdout.splitlines()[0] if out.stdout else ""
    path = shutil.which(compiler.split()[0])
    return f"{os.path.realpath(path) if path else compiler} {first.partition(' ')[2]}"



# The targets release wheels are built for: zig's target triple with the glibc floor, and the name
# OpenSSL's Configure gives the same platform.
TARGETS = {
    "x86_64-linux-gnu.2.28": "linux-x86_64",
    "aarch64-linux-gnu.2.28": "linux-aarch64",
}
ZIG_PIN = "ziglang==0.17.1"
# zig names Arm CPUs its own way: liboqs asks for -march=armv8-a+crypto (its generic aarch64
# build) and -mcpu=cortex-a53+crypto (its Armv8 AES and SHA-2 files), which zig spells
# -mcpu=generic+crypto and -mcpu=cortex_a53+crypto. The aarch64 wrappers rewrite them.
ARM_SPELLING = [
    'for a; do shift',
    '  case "$a" in',
    '    -march=armv8-a*) a="-mcpu=generic${a#-march=armv8-a}" ;;',
    '    -mcpu=cortex-*) a="-mcpu=cortex_${a#-mcpu=cortex-}" ;;',
    '  esac',
    '  set -- "$@" "$a"',
    'done',
]


def zig_spelling(target: str) -> list[str]:
    return ARM_SPELLING if target.startswith("aarch64-") else []


def zig_command() -> list[str]:
    """zig, from the ziglang package of the running interpreter (installed there when missing)."""
    probe = [sys.executable, "-m", "ziglang", "version"]
    if subprocess.run(probe, capture_output=True).returncode != 0:
        log(f"installing {ZIG_PIN} for the cross builds")
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", ZIG_PIN], check=True)
    return [sys.executable, "-m", "ziglang"]


def zig_version() -> str:
    return subprocess.run([*zig_command(), "version"], capture_output=True, text=True, check=True).stdout.strip()


def zig_wrappers(target: str) -> Path:
    """A folder of cc, c++, ar and ranlib for `target`: small scripts that call zig, for build tools
    (OpenSSL's Configure, CMake) that take a compiler as one program name.

    zig compiles its C and C++ runtimes for a target once (some two minutes) into its own cache,
    kept in tesmar's cache so every clone shares it. The scripts name this interpreter, so each
    interpreter gets its own folder."""
    if target not in TARGETS:
        raise DepsError(f"unknown target {target!r}: one of {', '.join(TARGETS)}")
    zig = zig_command()
    version = zig_version()
    where = hashlib.sha256(sys.executable.encode()).hexdigest()[:8]
    folder = cache_dir() / f"zig-{version}" / "wrappers" / where / target
    zig_cache = cache_dir() / f"zig-{version}" / "cache"
    head = ["#!/bin/sh", f"export ZIG_GLOBAL_CACHE_DIR={zig_cache}", f"export ZIG_LOCAL_CACHE_DIR={zig_cache}"]
    call = " ".join(zig)
    scripts = {
        "cc": "\n".join([*zig_spelling(target), f'exec {call} cc -target {target} "$@"']),
        "c++": "\n".join([*zig_spelling(target), f'exec {call} c++ -target {target} "$@"']),
        "ar": f'exec {call} ar "$@"',
        "ranlib": f'exec {call} ranlib "$@"',
    }
    for name, line in scripts.items():
        path = folder / name
        text = "\n".join([*head, line]) + "\n"
        if not path.is_file() or path.read_text() != text:
            folder.mkdir(parents=True, exist_ok=True)
            partial = path.with_suffix(".part")
            partial.write_text(text)
            partial.chmod(0o755)
            partial.replace(path)
    return folder


VARIANT_CFLAGS = {
    "release": [],
    # AddressSanitizer in the library itself, so its reads of caller buffers are checked too.
    "asan": ["-fsanitize=address,undefined", "-fno-omit-frame-pointer", "-g"],
    # ThreadSanitizer: liboqs runs with the GIL released, on several threads at once.
    "tsan": ["-fsanitize=thread", "-fno-omit-frame-pointer", "-g"],
}


def run(cmd: list[str], cwd: Path, env: dict | None = None, logfile: Path | None = None) -> None:
    log(" ".join(cmd))
    with open(logfile, "a") if logfile else contextlib.nullcontext() as out:
        result = subprocess.run(cmd, cwd=cwd, env=env, stdout=out or sys.stderr, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        tail = ""
        if logfile and logfile.is_file():
            tail = "\n".join(logfile.read_text(errors="replace").splitlines()[-30:])
        raise DepsError(f"{' '.join(cmd[:3])} ... failed (exit {result.returncode}) in {cwd}\n{tail}")


def openssl_recipe(pin: dict, variant: str, target: str | None) -> tuple[list[str], callable]:
    cflags = ["-fPIC", "-O3" if variant == "release" else "-O1", *VARIANT_CFLAGS[variant]]
    options = ["no-shared", "no-tests", "no-docs", "no-apps", "no-module"]
    if target is None:
        key = [RECIPE, pin["sha256"], variant, *options, *cflags, compiler_id("CC", "cc")]
    else:
        options.append(TARGETS[target])
        # (OpenSSL passes zig no -march or -mcpu, so the wrappers' spelling does not shape it.)
        key = [RECIPE, pin["sha256"], variant, *options, *cflags, target, f"zig {zig_version()}"]

    def build(src: Path, prefix: Path, logfile: Path) -> None:
        env = dict(os.environ, CFLAGS=" ".join(cflags))
        if target is not None:
            tools = zig_wrappers(target)
            env.update(CC=str(tools / "cc"), CXX=str(tools / "c++"), AR=str(tools / "ar"),
                       RANLIB=str(tools / "ranlib"))
            env.pop("CROSS_COMPILE", None)
        run(["perl", "./Configure", *options, f"--prefix={prefix}", "--libdir=lib",
             f"--openssldir={prefix}/ssl"], src, env, logfile)
        run(["make", f"-j{min(os.cpu_count() or 2, 2)}", "build_libs"], src, env, logfile)
        run(["make", "install_dev"], src, env, logfile)

    return key, build


def liboqs_recipe(pin: dict, variant: str, target: str | None) -> tuple[list[str], callable]:
    cflags = VARIANT_CFLAGS[variant]
    options = [
        "-DBUILD_SHARED_LIBS=ON", "-DOQS_BUILD_ONLY_LIB=ON", "-DOQS_DIST_BUILD=ON",
        # Self-contained: liboqs's own SHA-2/SHA-3/AES code, no second libcrypto in the process.
        "-DOQS_USE_OPENSSL=OFF",
        f"-DOQS_MINIMAL_BUILD={';'.join(pin['mechanisms'])}",
        "-DCMAKE_BUILD_TYPE=Release" if variant == "release" else "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
    ]
    if target is None:
        key = [RECIPE, pin["sha256"], variant, *options, *cflags, compiler_id("CC", "cc")]
    else:
        key = [RECIPE, pin["sha256"], variant, *options, *cflags, target, f"zig {zig_version()}",
               *zig_spelling(target), sha256_of(TOOLCHAIN)]

    def build(src: Path, prefix: Path, logfile: Path) -> None:
        cmake, ninja = tool("cmake"), tool("ninja")
        env = None
        if target is not None:
            env = dict(os.environ, TESMAR_TARGET=target, TESMAR_ZIG_WRAPPERS=str(zig_wrappers(target)))
            options.append(f"-DCMAKE_TOOLCHAIN_FILE={TOOLCHAIN}")
        build_dir = src / "build"
        flags = " ".join(cflags)
        run([cmake, "-S", str(src), "-B", str(build_dir), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
             f"-DCMAKE_INSTALL_PREFIX={prefix}", "-DCMAKE_INSTALL_LIBDIR=lib",
             f"-DCMAKE_C_FLAGS={flags}", f"-DCMAKE_SHARED_LINKER_FLAGS={flags}", *options], src, env, logfile)
        run([cmake, "--build", str(build_dir), "-j", "2"], src, env, logfile)
        run([cmake, "--install", str(build_dir)], src, env, logfile)

    return key, build


RECIPES = {"openssl": openssl_recipe, "liboqs": liboqs_recipe}


def build(name: str, variant: str = "release", target: str | None = None) -> Path:
    """The install prefix of `name` built with `variant` (for `target`, else for this machine),
    building it first if the cache lacks it."""
    if target is not None and target not in TARGETS:
        raise DepsError(f"unknown target {target!r}: one of {', '.join(TARGETS)}")
    pin = pins()[name]
    key_parts, recipe = RECIPES[name](pin, variant, target)
    key = hashlib.sha256(json.dumps(key_parts).encode()).hexdigest()[:12]
    root = cache_dir()
    label = variant if target is None else f"{variant}-{target.split('-')[0]}"
    prefix = root / f"{name}-{pin['version']}-{label}-{key}"
    stamp = prefix / ".tesmar-built"
    if stamp.is_file():
        return with_licence(name, prefix)
    with locked(root / f".{prefix.name}.lock"):
        if stamp.is_file():
            return with_licence(name, prefix)
        tarball = fetch(name)
        log(f"building {name} {pin['version']} ({variant}{', ' + target if target else ''}) into {prefix}; "
            "this happens once per version")
        work = Path(tempfile.mkdtemp(prefix=f"{name}-", dir=root))
        logfile = work / "build.log"
        try:
            with tarfile.open(tarball) as tar:
                tar.extractall(work, filter="data")
            tops = [p for p in work.iterdir() if p.is_dir()]
            if len(tops) != 1:
                raise DepsError(f"{tarball} does not unpack to one folder")
            shutil.rmtree(prefix, ignore_errors=True)
            recipe(tops[0], prefix, logfile)
            (prefix / "build.json").write_text(json.dumps(
                {"name": name, "version": pin["version"], "variant": variant, "target": target,
                 "key": key_parts}, indent=1))
            stamp.write_text(pin["sha256"] + "\n")
        except BaseException:
            shutil.rmtree(prefix, ignore_errors=True)
            raise
        finally:
            shutil.rmtree(work, ignore_errors=True)
        log(f"{name} {pin['version']} ({variant}) built")
    return with_licence(name, prefix)


def with_licence(name: str, prefix: Path) -> Path:
    """Puts the dependency's licence text at <prefix>/LICENSE.txt (what ships in tesmar's wheels)."""
    target = prefix / "LICENSE.txt"
    if not target.is_file():
        with tarfile.open(fetch(name)) as tar:
            member = next((m for m in tar.getmembers()
                           if m.isfile() and m.name.count("/") == 1
                           and m.name.split("/")[1] in ("LICENSE.txt", "LICENSE")), None)
            if member is None:
                raise DepsError(f"the {name} tarball holds no top-level LICENSE file")
            target.write_bytes(tar.extractfile(member).read())
    return prefix


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("what", nargs="+", help="openssl, liboqs, zig, or: fetch NAME, version NAME")
    parser.add_argument("--variant", default="release", choices=sorted(VARIANT_CFLAGS))
    parser.add_argument("--target", choices=sorted(TARGETS), default=os.environ.get("TESMAR_TARGET") or None,
                        help="cross-build with zig for this CPU and glibc floor (default: $TESMAR_TARGET, "
                             "else this machine with its own compiler)")
    args = parser.parse_args(argv)
    try:
        match args.what:
            case ["fetch", name] if name in RECIPES:
                print(fetch(name))
            case ["version", name] if name in RECIPES:
                print(pins()[name]["version"])
            case ["zig"] if args.target:
                print(zig_wrappers(args.target))
            case [name] if name in RECIPES:
                print(build(name, args.variant, args.target))
            case _:
                parser.error(f"unknown request {' '.join(args.what)!r}")
    except DepsError as e:
        print(f"tools/deps.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
