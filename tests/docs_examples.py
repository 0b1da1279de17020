"""Finds and runs the examples of the documentation pages (docs/*.rst and README.md).

What runs, by the language of the code block:

- ``python``: executed as it stands;
- ``pycon``: a doctest session, its shown output compared (``...`` matches anything);
- ``console``: ``$ `` lines are run by bash, and what each prints (standard output and error
  together) must match the lines shown under it, or be empty when none are shown; a command that
  exits with a non-zero status fails the example.

The blocks of one page run in order, in one namespace and one temporary folder, so a page reads
as a session. Blocks in other languages (``shell`` for installing and building, ``text``) are
shown, not run.
"""
from __future__ import annotations

import doctest
import os
import re
import shutil
import subprocess
import sys
import textwrap
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RUN = ("python", "pycon", "console")
FLAGS = doctest.ELLIPSIS


@dataclass
class Block:
    lang: str
    text: str
    line: int  # where the block's content starts in its file, 1-based


class ExampleFailed(AssertionError):
    pass


def pages() -> list[Path]:
    return sorted((ROOT / "docs").rglob("*.rst")) + [ROOT / "README.md"]


def rst_blocks(text: str) -> list[Block]:
    lines = text.splitlines()
    blocks, i = [], 0
    while i < len(lines):
        m = re.match(r"^(\s*)\.\. code-block::\s*(\S+)\s*$", lines[i])
        if not m:
            i += 1
            continue
        indent, lang = len(m.group(1)), m.group(2)
        i += 1
        while i < len(lines) and re.match(r"^\s+:[\w-]+:", lines[i]):
            i += 1
        body, start = [], None
        while i < len(lines) and (not lines[i].strip() or len(lines[i]) - len(lines[i].lstrip()) > indent):
            if start is None and lines[i].strip():
                start = i + 1
            body.append(lines[i])
            i += 1
        blocks.append(Block(lang, textwrap.dedent("\n".join(body)).strip("\n") + "\n", start or i))
    return blocks


def md_blocks(text: str) -> list[Block]:
    blocks = []
    for m in re.finditer(r"^```(\w*)\n(.*?)^```", text, re.S | re.M):
        blocks.append(Block(m.group(1) or "text", m.group(2), text.count("\n", 0, m.start()) + 2))
    return blocks


def blocks_of(path: Path) -> list[Block]:
    text = path.read_text(encoding="utf-8")
    return md_blocks(text) if path.suffix == ".md" else rst_blocks(text)


def _where(path: Path, block: Block) -> str:
    try:
        return f"{path.relative_to(ROOT)}:{block.line}"
    except ValueError:
        return f"{path}:{block.line}"


def run_python(block: Block, where: str, namespace: dict) -> None:
    exec(compile(block.text, where, "exec"), namespace)


def run_pycon(block: Block, where: str, namespace: dict) -> None:
    test = doctest.DocTestParser().get_doctest(block.text, namespace, where, where, block.line - 1)
    report: list[str] = []
    runner = doctest.DocTestRunner(optionflags=FLAGS, verbose=False)
    result = runner.run(test, out=report.append, clear_globs=False)
    if result.failed:
        raise ExampleFailed("".join(report))


def console_commands(text: str) -> list[tuple[str, str]]:
    """(command, output shown under it) pairs; a command may continue on lines ending with \\."""
    commands: list[tuple[str, list[str]]] = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("$ "):
            command = line[2:]
            while command.endswith("\\") and i + 1 < len(lines):
                i += 1
                command = command[:-1] + lines[i]
            commands.append((command, []))
        elif commands:
            commands[-1][1].append(line)
        elif line.strip():
            raise ExampleFailed(f"console block starts with output, not a $ command: {line!r}")
        i += 1
    return [(c, "\n".join(out).strip("\n") + "\n" if any(o.strip() for o in out) else "") for c, out in commands]


def console_env(bin_dir: Path) -> dict:
    """`tesmar` and `python` run this interpreter, with its path, so the examples test what the suite tests."""
    bin_dir.mkdir(exist_ok=True)
    # `tesmar` is the console script's entry point itself, not `-m tesmar`: a build tree on
    # PYTHONPATH (make test-system, make asan) holds the extension as a module, not a package.
    entry = "-c 'import sys; from tesmar.cli import main; sys.exit(main())'"
    env = dict(os.environ)
    # A sanitizer runtime preloaded into this interpreter (make asan) goes to the interpreter alone:
    # other programs of the examples (dd, openssl) run as they are.
    preload = env.pop("LD_PRELOAD", None)
    restore = f"export LD_PRELOAD='{preload}'\n" if preload else ""
    for name, args in (("tesmar", entry), ("python", "")):
        script = bin_dir / name
        script.write_text(f'#!/bin/sh\n{restore}exec "{sys.executable}" {args} "$@"\n')
        script.chmod(0o755)
    env["PATH"] = f"{bin_dir}{os.pathsep}{env.get('PATH', '')}"
    env.pop("TESMAR_KEY", None)
    return env


def run_console(block: Block, where: str, cwd: Path, env: dict) -> None:
    checker = doctest.OutputChecker()
    for command, want in console_commands(block.text):
        done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
        got = done.stdout
        if done.returncode != 0:
            raise ExampleFailed(f"{where}: `{command}` exited with {done.returncode}:\n{got}")
        if not checker.check_output(want, got, FLAGS):
            raise ExampleFailed(f"{where}: `{command}` printed:\n{got}\nthe page shows:\n{want}")


# Programs the pages call that a minimal system may lack (the rest are in every Debian base).
OPTIONAL_PROGRAMS = ("openssl",)


def missing_programs(path: Path) -> list[str]:
    """Programs the page's command lines call that are not installed here."""
    commands = " ".join(c for b in blocks_of(path) if b.lang == "console" for c, _ in console_commands(b.text))
    return [p for p in OPTIONAL_PROGRAMS if re.search(rf"\b{p}\b", commands) and shutil.which(p) is None]


def run_page(path: Path, cwd: Path) -> int:
    """Runs every example of the page in order; returns how many blocks ran."""
    namespace: dict = {"__name__": "__main__"}
    env = console_env(cwd / ".bin")
    ran = 0
    old = os.getcwd()
    os.chdir(cwd)
    try:
        for block in blocks_of(path):
            if block.lang not in RUN:
                continue
            where = _where(path, block)
            if block.lang == "python":
                run_python(block, where, namespace)
            elif block.lang == "pycon":
                run_pycon(block, where, namespace)
            else:
                run_console(block, where, cwd, env)
            ran += 1
    finally:
        os.chdir(old)
    return ran
