"""What a run under emulation (make test-aarch64) changes: key pairs made beforehand, fewer examples.

Under qemu one RSA-4096 key generation takes a minute or more, one Classic McEliece pair several,
and the interpreter runs some 200 times slower. With $TESMAR_TEST_KEYS naming a folder of pairs
made on the host by tests/make_test_keys.py, the suite's shared keys come from there instead (the
tests that exist to exercise that key generation itself carry the `keygen` marker, and such a run
leaves them out); with $TESMAR_EMULATED set, property tests draw a tenth of their examples. Without
either, every key is made fresh and every count holds, as always.
"""
import os
from pathlib import Path

EMULATED = bool(os.environ.get("TESMAR_EMULATED"))


def examples(count):
    """A property test's example count: `count`, or a tenth of it (at least 5) under emulation."""
    return max(5, count // 10) if EMULATED else count


def pair(name):
    """(public, private) bytes kept as NAME.pub and NAME.key in $TESMAR_TEST_KEYS, else None."""
    where = os.environ.get("TESMAR_TEST_KEYS")
    base = Path(where) if where else None
    if base is None or not (base / f"{name}.key").is_file():
        return None
    return (base / f"{name}.pub").read_bytes(), (base / f"{name}.key").read_bytes()


def pem_pair(name):
    """(private_pem, public_pem) text, the order tesmar's RSA functions return, or None."""
    found = pair(name)
    return None if found is None else (found[1].decode(), found[0].decode())
