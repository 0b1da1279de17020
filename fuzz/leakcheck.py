"""LeakSanitizer checks for the sanitizer runs, made while the interpreter is still whole.

At exit the interpreter leaves much of what it allocated unfreed on purpose, so the runs switch
LeakSanitizer's own check at exit off (LSAN_OPTIONS=leak_check_at_exit=0) and check here instead,
from an atexit handler: by then the program's frames are gone (an object that only a running
Python frame refers to looks leaked, since the interpreter keeps its frame stack in memory it maps
itself, which LeakSanitizer does not scan), while every module and what it holds is still
reachable. A run with leaks then ends with status 1. Loaded as a pytest plugin (`-p leakcheck`)
or called by fuzz/hostile.py. (libFuzzer has a check of its own after each input that allocated
more than it freed, which the fuzz runs leave off unless FUZZ_LEAKS=1.)
"""
import atexit
import ctypes
import gc
import os
import sys


def check():
    """Run a leak check now: True when leaks were found (reported on stderr), False when none,
    None when no LeakSanitizer runtime is in the process."""
    try:
        run = ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    except AttributeError:
        return None
    gc.collect()
    return run() != 0


def _at_exit(where):
    leaks = check()
    if leaks is None:
        print(f"leak check ({where}): no LeakSanitizer runtime in this process, nothing checked", flush=True)
        return
    print(f"leak check ({where}): {'LEAKS FOUND (reported above)' if leaks else 'no leaks'}", flush=True)
    if leaks:
        sys.stderr.flush()
        os._exit(1)


def at_exit(where):
    """Check for leaks when the interpreter exits; a leak makes the exit status 1."""
    atexit.register(_at_exit, where)


def pytest_configure(config):
    at_exit("pytest session")
