"""Key pairs made beforehand by tests/make_test_keys.py, for runs where making them costs too much.

Under emulation (make test-aarch64) one RSA-4096 key generation takes a minute or more and one
Classic McEliece key pair several; with $TESMAR_TEST_KEYS naming a folder of pairs made on the host,
the suite's shared keys come from there instead, and the tests that exist to exercise key generation
itself carry the `keygen` marker so such a run can leave them out. Without it, every key is made
fresh, as always.
"""
import os
from pathlib import Path


def folder():
    where = os.environ.get("TESMAR_TEST_KEYS")
    return Path(where) if where else None


def pair(name):
    """(public, private) bytes kept as NAME.pub and NAME.key, or None when there are none."""
    base = folder()
    if base is None or not (base / f"{name}.key").is_file():
        return None
    return (base / f"{name}.pub").read_bytes(), (base / f"{name}.key").read_bytes()


def pem_pair(name):
    """(private_pem, public_pem) text, the order tesmar's RSA functions return, or None."""
    found = pair(name)
    return None if found is None else (found[1].decode(), found[0].decode())
