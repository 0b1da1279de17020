"""Runs every benchmark of bench/ in one process and prints tesmar against the alternatives.

Usage: python bench/run.py [family ...]   (families: the bench_<family>.py files present)
"""
import importlib.util
import os
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def versions():
    """Each side's OpenSSL: tesmar's own (linked in, or the system's) and the one pyca bundles."""
    import ssl

    import tesmar
    from cryptography.hazmat.backends.openssl import backend

    print(f"tesmar: {tesmar._internal._openssl_version()}")
    print(f"pyca cryptography: {backend.openssl_version_text()}")
    print(f"hashlib/ssl: {ssl.OPENSSL_VERSION}")
    try:
        from tesmar.quantum import _oqs
        lib = _oqs._oqs()
        print(f"liboqs: {lib.version} ({lib.path})")
    except Exception as e:  # the benchmarks of the other families still run
        print(f"liboqs: not loaded ({e})")
    print()


def main(argv):
    wanted = set(argv)
    versions()
    for path in sorted(HERE.glob("bench_*.py")):
        family = path.stem.removeprefix("bench_")
        if wanted and family not in wanted:
            continue
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        print(f"== {family}")
        module.main()
        print()


if __name__ == "__main__":
    main(sys.argv[1:])
