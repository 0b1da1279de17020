"""LeakSanitizer checks for the sanitizer runs, made while the interpreter is still alive.

What the interpreter keeps until it exits is not a leak, so the runs switch the check at exit off
(LSAN_OPTIONS=leak_check_at_exit=0) and check here instead: as a pytest plugin at the end of the
session (`-p leakcheck`), and from fuzz/hostile.py at the end of its run. libFuzzer makes its own
check after each input that allocated more than it freed.
"""
import ctypes
import gc


def check():
    """Run a leak check now: True when leaks were found (reported on stderr), False when none,
    None when no LeakSanitizer runtime is in the process."""
    try:
        run = ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    except AttributeError:
        return None
    gc.collect()
    return run() != 0


def report(where):
    leaks = check()
    if leaks is None:
        print(f"leak check ({where}): no LeakSanitizer runtime in this process, nothing checked")
    else:
        print(f"leak check ({where}): {'LEAKS FOUND (reported above)' if leaks else 'no leaks'}")
    return bool(leaks)


def pytest_sessionfinish(session, exitstatus):
    if report("pytest session") and session.exitstatus == 0:
        session.exitstatus = 1
