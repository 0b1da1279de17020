"""Writes the fixed key pairs (fuzz/keys/) and the seed corpora (fuzz/corpus/<target>/).

Usage: python fuzz/make_corpus.py [--new-keys]

The seeds are valid outputs of each family plus a few edge cases, laid out as each target of
targets.py reads its input. Keys are kept unless --new-keys is given (new keys invalidate every
seed and regression input that carries key-bound data, so they are made once and committed).
"""
import base64
import pathlib
import shutil
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import targets  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"


def length_prefixed(part, rest=b""):
    return len(part).to_bytes(2, "little") + part + rest


def make_keys():
    from tesmar.quantum import core as quantum
    from tesmar.rsa import core as rsa

    targets.KEYS.mkdir(exist_ok=True)
    private, public = rsa.new_key_pair()
    (targets.KEYS / "rsa_private.pem").write_text(private)
    (targets.KEYS / "rsa_public.pem").write_text(public)
    for scheme, strength in targets.SCHEMES:
        pk, sk = quantum.generate_keypair(scheme, strength)
        (targets.KEYS / f"quantum_{scheme}.key").write_bytes(sk)
        # The public halves (a megabyte for Classic McEliece) are not kept: one message made now
        # stands in for them in the seeds.
        secret, message = quantum.encrypt("fuzz", pk)
        (targets.KEYS / f"quantum_{scheme}.seed").write_bytes(length_prefixed(secret, message))
    for signer in targets.SIGNERS:
        if isinstance(signer, tuple):
            pk, sk = quantum.generate_signature_keypair(*signer)
            (targets.KEYS / f"signature_{signer[0]}_{signer[1]}.pub").write_bytes(pk)
            (targets.KEYS / f"signature_{signer[0]}_{signer[1]}.sk").write_bytes(sk)
    # Public keys of the schemes whose keys are small enough to seed the key-header target.
    for scheme in (6, 8):
        pk, sk = quantum.generate_keypair(scheme, 0)
        (targets.KEYS / f"seed_public_{scheme}.key").write_bytes(pk)
        (targets.KEYS / f"seed_private_{scheme}.key").write_bytes(sk)


def hybr_layout(data, public):
    """The older layout: HYBR, a big-endian key length, the wrapped key, then an AES envelope
    under the Base64 text of the unwrapped key."""
    from tesmar.aes import core as aes
    from tesmar.rsa import core as rsa

    raw = bytes(range(32))
    wrapped = rsa._encrypt_oaep(raw, public)
    return b"HYBR" + len(wrapped).to_bytes(4, "big") + wrapped + aes.encrypt_bytes(data, base64.b64encode(raw).decode())


def seeds():
    from tesmar.aes import core as aes
    from tesmar.hybrid import core as hybrid
    from tesmar.password import core as password
    from tesmar.quantum import core as quantum
    from tesmar.rsa import core as rsa
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric import rsa as pyca_rsa

    private, public = targets.rsa_pair()
    k0, k1 = targets.AES_KEYS
    out = {}

    b64 = base64.b64encode
    out["base64_keys"] = [
        b"", b"QQ==", b"QUI=", b"QUJD", b"QR==", b"abcd", b"abcde", b"QUJD\n", b"QU-D", b"QU_D",
        b"====", b"Q===", b"QQ==QQ==", b"=QUJ", "pässwörd".encode(), b"a passphrase",
        b64(bytes(16)), b64(bytes(range(32))), b64(bytes(range(64))), b64(bytes(range(33))),
    ]

    env0 = aes.encrypt_bytes(b"hello, fuzzer", k0)
    env1 = aes.encrypt_bytes(bytes(range(200)), k1)
    out["aes_decrypt"] = [
        b"\x00" + env0, b"\x01" + env1, b"\x00" + b64(env0), b"\x01" + aes.encrypt_str("text", k1).encode(),
        b"\x00" + bytes(28), b"\x00" + bytes(27), b"\x00", b"\x00" + env0[:-1],
    ]

    record = password.hash_password("pw", 1000)
    heavy = password.hash_password("pw", 1)
    out["password_record"] = [
        b"\x02pw" + record.encode(), b"\x02px" + record.encode(), b"\x02pw" + heavy.encode(),
        b"\x02pw" + record.replace('"version":2', '"version":1').encode(),
        b"\x02pw" + record.replace('"iterations":1000', '"iterations":"1000"').encode(),
        b"\x02pw" + record.replace('"iterations":1000', '"iterations":210000').encode(),
        b"\x02pw" + record.replace('"SHA512"', '"sha256"').encode(),
        b"\x02pw[]", b"\x02pwnull", b"\x02pw{}", b"\x00" + record.encode(), b"\x02pw{\"a\":",
    ]

    pk8 = (targets.KEYS / "seed_public_8.key").read_bytes()
    sk8 = (targets.KEYS / "seed_private_8.key").read_bytes()
    pk6 = (targets.KEYS / "seed_public_6.key").read_bytes()
    secret8, message8 = quantum.encrypt("fuzz", pk8)
    ml_sk = (targets.KEYS / "signature_1_0.sk").read_bytes()
    slh_sk = (targets.KEYS / "signature_2_0.sk").read_bytes()
    ml_pk = targets.signature_public(1, 0)
    out["quantum_keys"] = [
        b"\x00" + pk8, b"\x00" + pk6, b"\x00" + pk8[:2], b"\x00" + bytes([2, 0]) + bytes(64), b"\x00",
        b"\x01" + length_prefixed(sk8, length_prefixed(secret8, message8)),
        b"\x01" + length_prefixed(bytes([7, 0, 4, 0, 0, 0]), length_prefixed(b"", b"")),
        b"\x02" + ml_sk, b"\x02" + slh_sk, b"\x02" + bytes([3, 0]) + ml_sk[2:],
        b"\x03" + length_prefixed(ml_pk, quantum.sign(b"fuzz", ml_sk)),
        b"\x03" + length_prefixed(targets.signature_public(2, 0), quantum.sign(b"fuzz", slh_sk)[:100]),
    ]

    signed = b"signed data"
    sig_seeds = [b"\x00" + length_prefixed(rsa.sign_bytes(signed, private), signed),
                 b"\x01" + length_prefixed(rsa.sign_str("text", private).encode(), b"text"),
                 b"\x00" + length_prefixed(bytes(512), signed), b"\x01" + length_prefixed(b"AAAA", b"text")]
    for index, signer in enumerate(targets.SIGNERS):
        if isinstance(signer, tuple):
            sk = (targets.KEYS / f"signature_{signer[0]}_{signer[1]}.sk").read_bytes()
            signature = quantum.sign(signed, sk)
            sig_seeds.append(bytes([index]) + length_prefixed(signature, signed))
            if signer[1] == 0:
                sig_seeds.append(bytes([index]) + length_prefixed(signature[:64], signed))
    out["signature_verify"] = sig_seeds

    big = bytes(range(256)) * 2
    out["files_decrypt"] = [
        b"\x00\x00" + aes.encrypt_bytes(big, k0), b"\x00\x07" + aes.encrypt_bytes(big, k0),
        b"\x01\x00" + hybrid.encrypt_bytes(big, public), b"\x01\x40" + hybr_layout(big, public),
        b"\x00\x01" + aes.encrypt_bytes(b"x", k0)[:-3], b"\x01\x00",
    ]

    short_key = pyca_rsa.generate_private_key(public_exponent=65537, key_size=1024)
    loaded = serialization.load_pem_private_key(private.encode(), None)
    pem = serialization.Encoding.PEM
    out["rsa_pem"] = [
        private.encode(), public.encode(),
        loaded.private_bytes(pem, serialization.PrivateFormat.TraditionalOpenSSL, serialization.NoEncryption()),
        loaded.public_key().public_bytes(pem, serialization.PublicFormat.PKCS1),
        short_key.private_bytes(pem, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()),
        short_key.public_key().public_bytes(pem, serialization.PublicFormat.SubjectPublicKeyInfo),
        b"-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", b"",
    ]

    out["rsa_oaep"] = [
        rsa._encrypt_oaep(b"x", public), rsa._encrypt_oaep(bytes(446), public), bytes(512), bytes(511),
        b64(rsa._encrypt_oaep(b"text", public)),
    ]

    out["hybrid_decrypt"] = [
        hybrid.encrypt_bytes(b"hybrid data", public), hybr_layout(b"older layout", public),
        rsa._encrypt_oaep(b"a bare block", public), hybrid.encrypt_bytes(b"y", public)[:560],
        b"HYBR\x00\x00\x02\x00" + bytes(600), (512).to_bytes(4, "little") + bytes(540),
        hybrid.encrypt_str("text", public).encode(),
    ]

    qd = []
    for index, (scheme, _) in enumerate(targets.SCHEMES):
        secret, message = quantum_seed(scheme)
        qd.append(bytes([index]) + length_prefixed(secret, message))
        qd.append(bytes([index]) + length_prefixed(secret[:-1], message))
    out["quantum_decrypt"] = qd

    out["inspect_blob"] = [
        b"\x00" + env0, b"\x00" + hybrid.encrypt_bytes(b"z", public), b"\x00" + hybr_layout(b"z", public),
        b"\x00" + record.encode(), b"\x00" + pk8, b"\x00" + ml_pk, b"\x00" + message8, b"\xff" + env0[:40],
        b"\x00",
    ]
    return out


def quantum_seed(scheme):
    """(secret, message) under the fixed key of `scheme`, kept beside it by make_keys."""
    return targets.split((targets.KEYS / f"quantum_{scheme}.seed").read_bytes())


def main(argv):
    if "--new-keys" in argv or not (targets.KEYS / "rsa_private.pem").is_file():
        make_keys()
    for name, inputs in seeds().items():
        folder = CORPUS / name
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for i, data in enumerate(inputs):
            (folder / f"seed-{i:02d}").write_bytes(data)
        print(f"{name}: {len(inputs)} seeds, {sum(map(len, inputs))} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
