"""Each scheme built independently from pyca cryptography and the raw KEM, following the published
layouts and key derivations: what tesmar writes opens by hand, and what is sealed by hand opens in
tesmar."""
import hashlib
import hmac
import os

import pytest
from cryptography.hazmat.primitives import hashes, padding, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

from quantum_keys import CMCE, FRODO, MLKEM, scheme_pair
from tesmar.quantum import _oqs, core

OAEP = asym.OAEP(asym.MGF1(hashes.SHA256()), hashes.SHA256(), None)
TEXT = "sealed by one side, opened by the other: ✓"


def hkdf(ikm, salt, info, length):
    return HKDF(hashes.SHA256(), length, salt or None, info).derive(ikm)


def mac(key, data):
    return hmac.new(key, data, hashlib.sha256).digest()


def cbc_seal(key, iv, data):
    padder = padding.PKCS7(128).padder()
    enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    return enc.update(padder.update(data) + padder.finalize()) + enc.finalize()


def cbc_open(key, iv, ct):
    dec = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
    unpadder = padding.PKCS7(128).unpadder()
    return unpadder.update(dec.update(ct) + dec.finalize()) + unpadder.finalize()


def split7(raw):
    r = int.from_bytes(raw[:4], "little")
    return raw[4:4 + r], raw[4 + r:]


def xor_mix(session, ss):
    return bytes(session[i] ^ ss[i % len(ss)] for i in range(32))


def seal(scheme, strength, raw_pk, data):
    """(encapsulated secret, encrypted message) as the layouts describe them."""
    if scheme == 4:
        capsule, ss = _oqs.encapsulate(FRODO[2], raw_pk)
        nonce = os.urandom(12)
        return capsule, nonce + AESGCM(mac(ss, b"\x01")).encrypt(nonce, data, None)
    if scheme == 6:
        capsule, ss = _oqs.encapsulate(FRODO[strength], raw_pk)
        salt, nonce = os.urandom(16), os.urandom(12)
        return capsule, salt + nonce + AESGCM(hkdf(ss, salt, b"Gen6-Frodo-GCM", 32)).encrypt(nonce, data, None)
    if scheme == 2:
        capsule, ss = _oqs.encapsulate(CMCE[strength], raw_pk)
        iv = os.urandom(16)
        body = iv + cbc_seal(hkdf(ss, b"", b"", 32), iv, data)
        return capsule, body + mac(ss, body)
    if scheme == 5:
        capsule, ss = _oqs.encapsulate(CMCE[strength], raw_pk)
        salt, iv = os.urandom(32), os.urandom(16)
        dk = hkdf(ss, salt, b"Gen5-CMCE-HMAC", 64)
        body = salt + iv + cbc_seal(dk[:32], iv, data)
        return capsule, body + mac(dk[32:], body)
    salt, nonce = os.urandom(32), os.urandom(12)
    if scheme == 7:
        rsa_pub, frodo_pub = split7(raw_pk)
        session = os.urandom(32)
        block = serialization.load_der_public_key(core._pkcs1_to_spki(rsa_pub)).encrypt(session, OAEP)
        capsule, ss = _oqs.encapsulate(FRODO[strength], frodo_pub)
        key = hkdf(xor_mix(session, ss), salt, b"Gen7-Hybrid-RSA-Frodo", 32)
        secret = len(block).to_bytes(4, "little") + block + capsule
    else:
        ct, ss = _oqs.encapsulate(MLKEM[strength], raw_pk[32:])
        eph = X25519PrivateKey.generate()
        x_ss = eph.exchange(X25519PublicKey.from_public_bytes(raw_pk[:32]))
        key = hkdf(x_ss + ss, salt, b"Gen8-Hybrid-X25519-MLKEM", 32)
        secret = len(ct).to_bytes(4, "little") + ct + eph.public_key().public_bytes_raw()
    return secret, salt + nonce + AESGCM(key).encrypt(nonce, data, None)


def open_(scheme, strength, raw_sk, secret, enc):
    if scheme == 4:
        ss = _oqs.decapsulate(FRODO[2], raw_sk, secret)
        return AESGCM(mac(ss, b"\x01")).decrypt(enc[:12], enc[12:], None)
    if scheme == 6:
        ss = _oqs.decapsulate(FRODO[strength], raw_sk, secret)
        return AESGCM(hkdf(ss, enc[:16], b"Gen6-Frodo-GCM", 32)).decrypt(enc[16:28], enc[28:], None)
    if scheme == 2:
        ss = _oqs.decapsulate(CMCE[strength], raw_sk, secret)
        assert mac(ss, enc[:-32]) == enc[-32:]
        return cbc_open(hkdf(ss, b"", b"", 32), enc[:16], enc[16:-32])
    if scheme == 5:
        ss = _oqs.decapsulate(CMCE[strength], raw_sk, secret)
        dk = hkdf(ss, enc[:32], b"Gen5-CMCE-HMAC", 64)
        assert mac(dk[32:], enc[:-32]) == enc[-32:]
        return cbc_open(dk[:32], enc[32:48], enc[48:-32])
    if scheme == 7:
        rsa_priv, frodo_sec = split7(raw_sk)
        w = int.from_bytes(secret[:4], "little")
        session = serialization.load_der_private_key(rsa_priv, None).decrypt(secret[4:4 + w], OAEP)
        ss = _oqs.decapsulate(FRODO[strength], frodo_sec, secret[4 + w:])
        key = hkdf(xor_mix(session, ss), enc[:32], b"Gen7-Hybrid-RSA-Frodo", 32)
    else:
        m = int.from_bytes(secret[:4], "little")
        ss = _oqs.decapsulate(MLKEM[strength], raw_sk[32:], secret[4:4 + m])
        own = X25519PrivateKey.from_private_bytes(raw_sk[:32])
        x_ss = own.exchange(X25519PublicKey.from_public_bytes(secret[4 + m:4 + m + 32]))
        key = hkdf(x_ss + ss, enc[:32], b"Gen8-Hybrid-X25519-MLKEM", 32)
    return AESGCM(key).decrypt(enc[32:44], enc[44:], None)


CASES = [(2, 1), (5, 2), (4, 2), (6, 0), (6, 1), (7, 0), (7, 1), (7, 2), (8, 0), (8, 2)]


@pytest.mark.parametrize("scheme, strength", CASES)
def test_tesmar_opens_what_is_sealed_by_hand(scheme, strength):
    public, private = scheme_pair(scheme, strength)
    secret, enc = seal(scheme, strength, public[2:], TEXT.encode())
    assert core.decrypt(enc, private, secret) == TEXT


@pytest.mark.parametrize("scheme, strength", CASES)
def test_what_tesmar_seals_opens_by_hand(scheme, strength):
    public, private = scheme_pair(scheme, strength)
    secret, enc = core.encrypt(TEXT, public)
    assert open_(scheme, strength, private[2:], secret, enc) == TEXT.encode()
