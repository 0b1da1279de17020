#!/usr/bin/env python3
"""Writes the key pairs that tests/emulation.py hands to a run with TESMAR_TEST_KEYS set.

    python tests/make_test_keys.py FOLDER

Run with a working tesmar and liboqs (the host's build); the pairs are byte strings of documented
layouts, so pairs made on one architecture serve a run on another. Every pair the suite would
otherwise generate with RSA-4096 or Classic McEliece is made: the shared RSA pair, the second pair
of the RSA tests, both variants of each McEliece mechanism and of the scheme-7 pair.
"""
import sys
from pathlib import Path

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa as pyca_rsa

from tesmar.quantum import _oqs, core
from tesmar.rsa import core as rsa

CMCE = ["Classic-McEliece-6688128", "Classic-McEliece-6960119", "Classic-McEliece-8192128"]


def write(folder, name, public, private):
    (folder / f"{name}.pub").write_bytes(public)
    (folder / f"{name}.key").write_bytes(private)


def main(argv):
    folder = Path(argv[0])
    folder.mkdir(parents=True, exist_ok=True)
    private_pem, public_pem = rsa.new_key_pair()
    write(folder, "rsa", public_pem.encode(), private_pem.encode())
    other = pyca_rsa.generate_private_key(65537, 4096)
    write(folder, "rsa-other",
          other.public_key().public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo),
          other.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                              serialization.NoEncryption()))
    for variant in (0, 1):
        for alg in CMCE:
            write(folder, f"{alg}-{variant}", *_oqs.generate_keypair(alg))
        write(folder, f"gen7-{variant}", *core.generate_keypair(7, 2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
