#!/usr/bin/env python3
"""Debian roots (of this machine's architecture or another), made once into tesmar's dependency
cache, and commands run inside them, under qemu's user-mode emulation for another architecture.

    python tools/debroot.py make --arch arm64 --suite trixie --packages python3.13,python3.13-venv
    python tools/debroot.py make --arch amd64 --suite unstable --packages python3.14,python3.14-venv
                                            # prints the root's path
    python tools/debroot.py testdeps --arch arm64 --python 3.13 "pytest>=8" ...
                                            # prints a folder of those packages for the root
    python tools/debroot.py run ROOT --bind HOST_DIR:/name --env NAME=VALUE 'shell command'

`make` builds the root with mmdebstrap into <cache>/debroot-<suite>-<arch>-<key>/, and `testdeps`
installs Python packages for the root's interpreter and architecture into
<cache>/testdeps-py<version>-<arch>-<key>/ with the host's pip; each key digests everything that
shapes the result, so each is made once and shared by every clone on the machine (<cache> as in
tools/deps.py). The root is never written to afterwards: `run` works in a private mount namespace
with a fresh tmpfs on the root's /tmp, under which the bound host folders appear (/tmp/name).

Foreign programs run through binfmt_misc and qemu-user-static (Debian packages, installed when
missing); both commands register the handler when the kernel has none.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from deps import DepsError, cache_dir, locked, log  # noqa: E402

# Bump when the recipe below changes in a way the options do not show.
RECIPE = "1"
MIRROR = "http://deb.debian.org/debian"
# Debian architecture -> (qemu's name, or None for this machine's own; the platform tags pip fetches
# the root's packages for)
ARCHES = {
    "amd64": (None, ["manylinux_2_28_x86_64", "manylinux_2_17_x86_64", "manylinux2014_x86_64"]),
    "arm64": ("aarch64", ["manylinux_2_28_aarch64", "manylinux_2_17_aarch64", "manylinux2014_aarch64"]),
}
HOST_CA = "/etc/ssl/certs/ca-certificates.crt"


def sh(cmd: list[str], **kw) -> subprocess.CompletedProcess:
    log(" ".join(cmd))
    return subprocess.run(cmd, check=True, **kw)


def apt_install(*packages: str) -> None:
    log(f"installing {' '.join(packages)} from Debian")
    subprocess.run(["apt-get", "update", "-qq"], check=True)
    subprocess.run(["apt-get", "install", "-y", "-qq", *packages], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def ensure_tools(arch: str) -> str | None:
    """mmdebstrap, and for a foreign `arch` qemu's static emulator registered with binfmt_misc;
    returns the path the kernel runs that emulator by (None for this machine's own)."""
    qemu_name = ARCHES[arch][0]
    if qemu_name is None:
        if not shutil.which("mmdebstrap"):
            apt_install("mmdebstrap")
        return None
    if not shutil.which("mmdebstrap") or not shutil.which(f"qemu-{qemu_name}-static"):
        apt_install("mmdebstrap", "qemu-user-static", "binfmt-support")
    binfmt = Path("/proc/sys/fs/binfmt_misc")
    if not (binfmt / "status").exists():
        subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(binfmt)], check=False)
    if not (binfmt / f"qemu-{qemu_name}").exists():
        subprocess.run(["update-binfmts", "--enable", f"qemu-{qemu_name}"], check=False)
    if not (binfmt / f"qemu-{qemu_name}").exists():
        raise DepsError(f"the kernel has no binfmt_misc handler for {qemu_name} and none could be "
                        f"registered (mount binfmt_misc and run update-binfmts --enable qemu-{qemu_name})")
    # The handler names an interpreter path that the kernel resolves inside the chroot too, unless
    # it was registered with the F flag (Debian's is not): that path must exist in the root.
    handler = (binfmt / f"qemu-{qemu_name}").read_text().splitlines()
    interpreter = next(line.split()[1] for line in handler if line.startswith("interpreter "))
    return interpreter


def keyed(prefix: str, parts: list) -> Path:
    key = hashlib.sha256(json.dumps(parts).encode()).hexdigest()[:12]
    return cache_dir() / f"{prefix}-{key}"


def built_once(target: Path, what: str, parts: list, make_into) -> Path:
    """`target`, made by make_into(folder) under a lock unless an earlier run finished it."""
    stamp = target / ".tesmar-built"
    if stamp.is_file():
        return target
    with locked(target.parent / f".{target.name}.lock"):
        if stamp.is_file():
            return target
        log(f"making {what} in {target}; this happens once")
        work = Path(tempfile.mkdtemp(prefix=f"{target.name}-", dir=target.parent))
        try:
            make_into(work / "made")
            (work / "made" / ".tesmar-key.json").write_text(json.dumps(parts, indent=1))
            shutil.rmtree(target, ignore_errors=True)
            (work / "made").rename(target)
            stamp.write_text(json.dumps(parts) + "\n")
        finally:
            shutil.rmtree(work, ignore_errors=True)
        log(f"made {target}")
    return target


def make(args) -> Path:
    ensure_tools(args.arch)
    parts = [RECIPE, args.suite, args.arch, MIRROR, sorted(args.packages.split(","))]

    def debootstrap(folder: Path) -> None:
        # essential is the smallest variant with a shell and dpkg; the host's apt does the fetching.
        # The package lists may be older than their Release file allows (a snapshot mirror).
        sh(["mmdebstrap", "--variant=essential", f"--architectures={args.arch}",
            f"--include={args.packages}", "--aptopt=Acquire::Check-Valid-Until \"false\"",
            "--dpkgopt=path-exclude=/usr/share/{doc,man,locale}/*",
            "--dpkgopt=path-include=/usr/share/doc/*/copyright", args.suite, str(folder), MIRROR])

    return built_once(keyed(f"debroot-{args.suite}-{args.arch}", parts),
                      f"a Debian {args.suite} {args.arch} root", parts, debootstrap)


def testdeps(args) -> Path:
    """The Python packages a run in the root needs, for its interpreter and architecture, fetched and
    unpacked by the host's pip at native speed (the host's certificates and settings reach the index;
    pip run under emulation takes some eight minutes for the same). Bytecode is the same on every
    architecture, so when the host's interpreter is of the root's version it compiles the packages
    here, sparing an emulated one (importing pytest under emulation: 20 s without, 10 s with)."""
    platforms = ARCHES[args.arch][1]
    compiled = args.python == f"{sys.version_info[0]}.{sys.version_info[1]}"
    parts = [RECIPE, args.arch, args.python, platforms, sorted(args.requirements), *(["bytecode"] if compiled else [])]

    def install(folder: Path) -> None:
        sh([sys.executable, "-m", "pip", "install", "-q", "--compile" if compiled else "--no-compile", "--target", str(folder),
            *[f"--platform={p}" for p in platforms], "--implementation", "cp",
            "--python-version", args.python, "--only-binary=:all:", *args.requirements])

    return built_once(keyed(f"testdeps-py{args.python}-{args.arch}", parts),
                      f"Python {args.python} packages for {args.arch}", parts, install)


def run(args) -> int:
    root = Path(args.root).resolve()
    arch = json.loads((root / ".tesmar-key.json").read_text())[2]
    interpreter = ensure_tools(arch)
    # Everything below happens in a private mount namespace: the mounts vanish with the command,
    # and the cached root itself is left as it was (its /tmp is a fresh tmpfs).
    script = ["set -e", f"R={quote(str(root))}",
              "mount --make-rprivate /",
              'mount -t proc proc "$R/proc"', 'mount --rbind /dev "$R/dev"',
              'mount -t tmpfs tmpfs "$R/tmp"']
    if interpreter:
        qemu = shutil.which(f"qemu-{ARCHES[arch][0]}-static")
        # The interpreter path of the handler, inside the root (a bind of the host's emulator).
        script.append(f'touch "$R/tmp/qemu" && mount --bind {quote(qemu)} "$R/tmp/qemu"')
        script.append(f'mkdir -p "$R{os.path.dirname(interpreter)}" 2>/dev/null || true')
        script.append(f'[ -e "$R{interpreter}" ] || mount -t tmpfs tmpfs "$R{os.path.dirname(interpreter)}"')
        script.append(f'[ -e "$R{interpreter}" ] || touch "$R{interpreter}"')
        script.append(f'mount --bind {quote(qemu)} "$R{interpreter}"')
    # The host's certificates: its egress may be re-signed by a local authority the root lacks.
    script.append(f'touch "$R/tmp/host-ca.crt" && mount --bind {quote(HOST_CA)} "$R/tmp/host-ca.crt"')
    for bind in args.bind:
        source, _, target = bind.partition(":")
        script.append(f'mkdir -p "$R/tmp{target}" && mount --bind {quote(source)} "$R/tmp{target}"')
    env = ["env", "-i", "HOME=/tmp", "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
           "PIP_CERT=/tmp/host-ca.crt", "SSL_CERT_FILE=/tmp/host-ca.crt", "PIP_DISABLE_PIP_VERSION_CHECK=1",
           *args.env]
    inner = " ".join(quote(a) for a in ["chroot", str(root), *env, "sh", "-c", args.cmd])
    script.append(f"exec {inner}")
    return subprocess.run(["unshare", "--mount", "--", "sh", "-c", "\n".join(script)]).returncode


def print_only(work) -> None:
    """Prints what work() returns as the one line of standard output: callers capture it as a path.
    Whatever else is written there meanwhile, by this process or the commands it runs (apt-get
    installing mmdebstrap on a fresh machine, pip, mmdebstrap), goes to standard error."""
    sys.stdout.flush()
    saved = os.dup(1)
    os.dup2(2, 1)
    try:
        result = work()
        sys.stdout.flush()
    finally:
        os.dup2(saved, 1)
        os.close(saved)
    print(result)


def quote(s: str) -> str:
    return "'" + s.replace("'", "'\\''") + "'"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("make")
    p.add_argument("--arch", required=True, choices=sorted(ARCHES))
    p.add_argument("--suite", required=True)
    p.add_argument("--packages", required=True, help="Debian packages, comma-separated")
    t = sub.add_parser("testdeps", help="Python packages for a root's interpreter, in a folder of their own")
    t.add_argument("--arch", required=True, choices=sorted(ARCHES))
    t.add_argument("--python", required=True, help="the root's interpreter version, for pip's tags")
    t.add_argument("requirements", nargs="+")
    r = sub.add_parser("run", help="a shell command in ROOT (host folders bound under /tmp)")
    r.add_argument("root")
    r.add_argument("--bind", action="append", default=[], help="HOST:/PATH, seen inside as /tmp/PATH")
    r.add_argument("--env", action="append", default=[], help="NAME=VALUE for the command")
    r.add_argument("cmd")
    args = parser.parse_args(argv)
    try:
        if args.command in ("make", "testdeps"):
            print_only(lambda: make(args) if args.command == "make" else testdeps(args))
            return 0
        return run(args)
    except (DepsError, subprocess.CalledProcessError) as e:
        print(f"tools/debroot.py: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
