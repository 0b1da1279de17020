"""Pictures and tables of tesmar's byte layouts, measured from the installed package at build time.

``.. tesmar-layout:: NAME`` draws one layout as an inline SVG beside a table of the same fields.
Every size comes from the package's constants or from a real output made while the docs build
(keys generated, data sealed); each layout is then checked against those outputs (the fields must
add up to the real length, length fields must hold what they say), and a layout that does not
match is a build error. So a changed size changes the picture, and a wrong picture cannot be built.
"""
from __future__ import annotations

import base64
import functools
import html
import json
import math
import os
import struct
from dataclasses import dataclass, field

from docutils import nodes
from sphinx.util.docutils import SphinxDirective

# The plaintext sealed for the measurements: its length shows up as n in the pictures.
SAMPLE = "tesmar layout sample"
STRENGTHS = ("STANDARD", "MEDIUM", "HIGHEST")


@dataclass
class Field:
    name: str
    sizes: list  # one per variant: an int, or text such as "n" for a length that follows the data
    kind: str  # header, length, key, nonce, cipher, tag, text
    note: str = ""


@dataclass
class Layout:
    title: str
    fields: list[Field]
    variants: list[str] = field(default_factory=lambda: [""])
    caption: str = ""
    offsets: bool = True  # False for a layout of named fields rather than of bytes in a row
    size_head: str = "bytes"


class LayoutMismatch(Exception):
    """A drawn layout disagrees with what the package really produced."""


def _check(condition: bool, what: str) -> None:
    if not condition:
        raise LayoutMismatch(what)


def _sum_check(layout: Layout, measured: list[int], variable: list[int]) -> None:
    """The fixed fields plus the variable ones (known for the sample) must make the real length."""
    for i, total in enumerate(measured):
        fixed = sum(f.sizes[i] for f in layout.fields if isinstance(f.sizes[i], int))
        _check(fixed + variable[i] == total,
               f"{layout.title} ({layout.variants[i] or 'one size'}): fields add up to "
               f"{fixed + variable[i]}, real output is {total}")


# ---- the package's outputs -----------------------------------------------------------------------


@functools.cache
def rsa_pair():
    from tesmar.rsa import core
    return core.new_key_pair()


def aes_envelope() -> Layout:
    from tesmar.aes import core
    data = SAMPLE.encode()
    blob = core.encrypt_bytes(data, "docs key text")
    lay = Layout("AES envelope", [
        Field("nonce", [core.GCM_NONCE_SIZE], "nonce", "random, fresh for every envelope"),
        Field("ciphertext", ["n"], "cipher", "AES-256-GCM of the data, as long as the data"),
        Field("tag", [core.GCM_TAG_SIZE], "tag", "GCM authentication tag"),
    ], caption="encrypt_bytes; encrypt_str returns the same bytes as standard Base64")
    _sum_check(lay, [len(blob)], [len(data)])
    return lay


def oaep_block() -> Layout:
    from tesmar.rsa import core
    private_pem, public_pem = rsa_pair()
    block = core.encrypt_bytes(b"x" * core.MAX_OAEP_PLAINTEXT, public_pem)
    lay = Layout("RSA-OAEP block", [
        Field("OAEP block", [core.KEY_SIZE // 8], "key",
              f"RSA-{core.KEY_SIZE} OAEP (SHA-256, MGF1-SHA-256, empty label) of up to "
              f"{core.MAX_OAEP_PLAINTEXT} bytes"),
    ], caption=f"rsa.core.encrypt_bytes of at most {core.MAX_OAEP_PLAINTEXT} bytes; "
               "longer data gets the hybrid envelope")
    _sum_check(lay, [len(block)], [0])
    _check(len(core.encrypt_bytes(b"x" * (core.MAX_OAEP_PLAINTEXT + 1), public_pem)) > len(block),
           "data over MAX_OAEP_PLAINTEXT goes to the hybrid envelope")
    return lay


def hybrid_envelope() -> Layout:
    from tesmar.hybrid import core
    private_pem, public_pem = rsa_pair()
    data = SAMPLE.encode()
    blob = core.encrypt_bytes(data, public_pem)
    (length,) = struct.unpack_from("<I", blob)
    _check(length == core.RSA_BLOCK, f"the length field holds {length}, not RSA_BLOCK")
    lay = Layout("hybrid envelope (written)", [
        Field("key length", [4], "length", f"little-endian, holds {core.RSA_BLOCK}"),
        Field("wrapped key", [core.RSA_BLOCK], "key", "RSA-OAEP of a fresh 32-byte AES-256 key"),
        Field("nonce", [core.NONCE], "nonce", "random"),
        Field("tag", [core.TAG], "tag", "GCM tag, before the ciphertext"),
        Field("ciphertext", ["n"], "cipher", "AES-256-GCM of the data"),
    ], caption="hybrid.core.encrypt_bytes (and rsa.core.encrypt_bytes above "
               "MAX_OAEP_PLAINTEXT bytes)")
    _sum_check(lay, [len(blob)], [len(data)])
    _check(core.decrypt_auto(blob, private_pem) == data, "the envelope opens")
    return lay


def legacy_blob(public_pem: str, data: bytes) -> bytes:
    """A legacy blob made with pyca cryptography: tesmar reads this layout and never writes it."""
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import padding
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    key = os.urandom(32)
    public = serialization.load_pem_public_key(public_pem.encode())
    wrapped = public.encrypt(key, padding.OAEP(
        mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None))
    nonce = os.urandom(12)
    return b"HYBR" + struct.pack(">I", len(wrapped)) + wrapped + nonce + AESGCM(key).encrypt(nonce, data, None)


def hybr_legacy() -> Layout:
    from tesmar.aes import core as aes
    from tesmar.hybrid import core
    private_pem, public_pem = rsa_pair()
    data = SAMPLE.encode()
    blob = legacy_blob(public_pem, data)
    _check(core.decrypt_auto(blob, private_pem) == data, "tesmar reads the legacy layout")
    (length,) = struct.unpack_from(">I", blob, 4)
    lay = Layout("legacy HYBR layout (read only)", [
        Field("magic", [len(core.HYBR)], "header", f"the bytes {core.HYBR.decode()!r}"),
        Field("key length L", [4], "length", f"big-endian, here {length}"),
        Field("wrapped key", [length], "key", "RSA-OAEP of the key; its Base64 text is the key text below"),
        Field("nonce", [aes.GCM_NONCE_SIZE], "nonce", "AES envelope under that key text ..."),
        Field("ciphertext", ["n"], "cipher", "... its ciphertext ..."),
        Field("tag", [aes.GCM_TAG_SIZE], "tag", "... and its tag"),
    ], caption="hybrid.core.decrypt_auto reads it; nothing in tesmar writes it")
    _sum_check(lay, [len(blob)], [len(data)])
    return lay


def password_record() -> Layout:
    from tesmar.password import core
    record = core.hash_password("docs password", iterations=1000)
    fields = json.loads(record)
    _check(record == json.dumps(fields, sort_keys=True, separators=(",", ":")), "the record is canonical JSON")
    salt, digest = base64.b64decode(fields["salt"]), base64.b64decode(fields["hash"])
    _check(len(salt) == core.SALT_LENGTH and len(digest) == core.OUTPUT_LENGTH, "salt and hash sizes")
    params = fields["parameters"]
    _check(params == {"hashAlgorithm": core.HASH_ALGORITHM, "iterations": 1000,
                      "outputLength": core.OUTPUT_LENGTH, "saltLength": core.SALT_LENGTH}, "parameters")
    _check(fields["algorithm"] == core.ALGORITHM and fields["version"] == core.VERSION, "algorithm, version")
    lay = Layout("password record", [
        Field('"algorithm"', [json.dumps(core.ALGORITHM)], "header", "text"),
        Field('"createdUtc"', ["time"], "text", f"creation time, e.g. {fields['createdUtc']}"),
        Field('"hash"', [f"{core.OUTPUT_LENGTH} B"], "key",
              f"Base64 of {core.OUTPUT_LENGTH} bytes of PBKDF2-HMAC-{core.HASH_ALGORITHM}"),
        Field('"parameters"', ["object"], "length",
              "hashAlgorithm, iterations, outputLength, saltLength"),
        Field('"salt"', [f"{core.SALT_LENGTH} B"], "nonce", f"Base64 of {core.SALT_LENGTH} random bytes"),
        Field('"version"', [str(core.VERSION)], "header", "number"),
    ], caption="one line of JSON, keys sorted, no spaces; sizes are of the decoded bytes",
       offsets=False, size_head="value")
    return lay


# ---- post-quantum ---------------------------------------------------------------------------------


@functools.cache
def quantum_outputs(generation: int):
    """(public key, private key, secret, message) of the generation at each strength."""
    from tesmar.quantum import core
    from tesmar.quantum.types import QuantumGeneration, QuantumStrength
    out = []
    for strength in QuantumStrength:
        public, private = core.generate_keypair(QuantumGeneration(generation), strength)
        secret, message = core.encrypt(SAMPLE, public)
        _check(core.decrypt(message, private, secret) == SAMPLE, f"generation {generation} round trip")
        out.append((public, private, secret, message))
    return out


def _mech(generation: int, strength: int) -> str:
    from tesmar.quantum import _oqs
    if generation in (2, 5):
        return _oqs.cmce_alg(strength)
    if generation == 4:
        return _oqs.frodo_alg(2)
    if generation in (6, 7):
        return _oqs.frodo_alg(strength)
    return _oqs.mlkem_alg(strength)


def _header(scheme: int, strengths: list[int]) -> list[Field]:
    return [Field("scheme", [1] * len(strengths), "header", f"byte {scheme}"),
            Field("strength", [1] * len(strengths), "header", "byte " + " / ".join(map(str, strengths)))]


def quantum_layout(generation: int, part: str) -> Layout:
    from tesmar.aes import core as aes
    from tesmar.rsa import core as rsa
    outs = quantum_outputs(generation)
    scheme = outs[0][0][0]
    strengths = [o[0][1] for o in outs]
    mechs = [_mech(generation, s) for s in strengths]
    variants = [f"{STRENGTHS[i]}: {m}" for i, m in enumerate(mechs)]
    n = len(SAMPLE.encode())
    index = {"public": 0, "private": 1, "secret": 2, "message": 3}[part]
    real = [len(o[index]) for o in outs]
    kem_name = mechs[-1].split("-")[0] if not mechs[-1].startswith("Classic") else "McEliece"
    fields: list[Field]
    variable = [0] * 3
    if part in ("public", "private"):
        fields = _header(scheme, strengths)
        what = "public key" if part == "public" else "secret key"
        if scheme == 8:
            x = 32
            fields += [Field("X25519 " + ("public" if part == "public" else "private") + " key", [x] * 3, "key", "raw"),
                       Field(f"ML-KEM {what}", [r - 2 - x for r in real], "key", "raw, as liboqs gives it")]
        elif scheme == 7:
            ders = [struct.unpack_from("<I", o[index], 2)[0] for o in outs]
            fields += [Field("RSA key length", [4] * 3, "length", "little-endian, the DER's length"),
                       Field(f"RSA-{rsa.KEY_SIZE} {'public' if part == 'public' else 'private'} key", ders, "key",
                             "PKCS#1 DER" + (" (its length varies by a byte or two)" if part == "private" else "")),
                       Field(f"FrodoKEM {what}", [r - 6 - d for r, d in zip(real, ders)], "key", "raw")]
        else:
            fields += [Field(f"{kem_name} {what}", [r - 2 for r in real], "key", "raw, as liboqs gives it")]
        _check(all(f.sizes[i] >= 0 for f in fields for i in range(3) if isinstance(f.sizes[i], int)), "sizes")
    elif part == "secret":
        if scheme == 8:
            cts = [struct.unpack_from("<I", o[2])[0] for o in outs]
            fields = [Field("ML-KEM ciphertext length", [4] * 3, "length", "little-endian"),
                      Field("ML-KEM ciphertext", cts, "cipher", "encapsulation to the ML-KEM key"),
                      Field("ephemeral X25519 public key", [32] * 3, "key", "one per message")]
        elif scheme == 7:
            blocks = [struct.unpack_from("<I", o[2])[0] for o in outs]
            _check(blocks == [rsa.KEY_SIZE // 8] * 3, "scheme 7 OAEP block length")
            fields = [Field("OAEP block length", [4] * 3, "length", "little-endian"),
                      Field("RSA-OAEP block", blocks, "key", "a fresh 32-byte session key"),
                      Field("FrodoKEM ciphertext", [r - 4 - b for r, b in zip(real, blocks)], "cipher",
                            "encapsulation to the FrodoKEM key")]
        else:
            fields = [Field(f"{kem_name} ciphertext", real, "cipher", "encapsulation, as liboqs gives it")]
    else:
        gcm = [Field("nonce", [aes.GCM_NONCE_SIZE] * 3, "nonce", "random"),
               Field("ciphertext", ["n"] * 3, "cipher", "AES-256-GCM of the UTF-8 text"),
               Field("tag", [aes.GCM_TAG_SIZE] * 3, "tag", "GCM tag")]
        cbc_len = 16 * (n // 16 + 1)
        if scheme in (8, 7, 6):
            salt = real[0] - n - aes.GCM_NONCE_SIZE - aes.GCM_TAG_SIZE
            fields = [Field("salt", [salt] * 3, "nonce", "random; HKDF salt")] + gcm
            variable = [n] * 3
        elif scheme == 4:
            fields = gcm
            variable = [n] * 3
        else:
            iv, mac = 16, 32
            salt = real[0] - cbc_len - iv - mac
            fields = ([Field("salt", [salt] * 3, "nonce", "random; HKDF salt")] if salt else []) + [
                Field("IV", [iv] * 3, "nonce", "random"),
                Field("ciphertext", ["16k"] * 3, "cipher", "AES-256-CBC, PKCS#7 padded to whole blocks"),
                Field("HMAC-SHA-256", [mac] * 3, "tag", "over everything before it, checked first")]
            variable = [cbc_len] * 3
    title = f"scheme {scheme} {part}" + (" key" if part in ("public", "private") else "")
    if part == "secret":
        title = f"scheme {scheme} encapsulated secret"
    if part == "message":
        title = f"scheme {scheme} encrypted message"
    lay = Layout(title, fields, variants=variants)
    if len(set(strengths)) == 1:
        lay.caption = (f"columns are the strengths asked for; every key of this scheme is made at "
                       f"strength {strengths[0]} ({mechs[0]})")
    _sum_check(lay, real, variable)
    return lay


@functools.cache
def signature_outputs(algorithm: int):
    from tesmar.quantum import core
    from tesmar.quantum.types import QuantumStrength, SignatureAlgorithm
    out = []
    for strength in QuantumStrength:
        public, private = core.generate_signature_keypair(SignatureAlgorithm(algorithm), strength)
        sig = core.sign(SAMPLE.encode(), private)
        _check(core.verify(SAMPLE.encode(), sig, public), "signature verifies")
        out.append((public, private, sig))
    return out


def signature_layout(algorithm: int, part: str) -> Layout:
    from tesmar.quantum import _oqs
    outs = signature_outputs(algorithm)
    index = {"public": 0, "private": 1, "signature": 2}[part]
    real = [len(o[index]) for o in outs]
    mechs = [_oqs.sig_algorithm("mldsa" if algorithm == 1 else "slhdsa", s) for s in range(3)]
    variants = [f"{STRENGTHS[i]}: {m}" for i, m in enumerate(mechs)]
    family = "ML-DSA" if algorithm == 1 else "SLH-DSA"
    if part == "signature":
        fields = [Field(f"{family} signature", real, "tag", "raw, no header")]
    else:
        what = "public key" if part == "public" else "secret key"
        fields = [Field("algorithm", [1] * 3, "header", f"byte {algorithm}"),
                  Field("strength", [1] * 3, "header", "byte 0 / 1 / 2"),
                  Field(f"{family} {what}", [r - 2 for r in real], "key", "raw, as liboqs gives it")]
    lay = Layout(f"{family} {part}" + (" key" if part != "signature" else ""), fields, variants=variants)
    _sum_check(lay, real, [0] * 3)
    return lay


LAYOUTS = {
    "aes-envelope": aes_envelope,
    "oaep-block": oaep_block,
    "hybrid-envelope": hybrid_envelope,
    "hybr-legacy": hybr_legacy,
    "password-record": password_record,
}
for _g in (8, 7, 6, 4, 5, 2):
    for _part in ("public", "private", "secret", "message"):
        LAYOUTS[f"quantum-{_g}-{_part}"] = functools.partial(quantum_layout, _g, _part)
for _a in (1, 2):
    for _part in ("public", "private", "signature"):
        LAYOUTS[f"signature-{_a}-{_part}"] = functools.partial(signature_layout, _a, _part)


# ---- drawing --------------------------------------------------------------------------------------

COLOURS = {  # fill, stroke
    "header": ("#e4e4e7", "#71717a"),
    "length": ("#e0e7ff", "#6366f1"),
    "key": ("#dbeafe", "#2563eb"),
    "nonce": ("#f3e8ff", "#9333ea"),
    "cipher": ("#dcfce7", "#16a34a"),
    "tag": ("#ffedd5", "#ea580c"),
    "text": ("#fef9c3", "#ca8a04"),
}
CHAR = 7.2  # width of a character of the 12 px label font, near enough for layout


def _size_text(size) -> str:
    return f"{size:,} B" if isinstance(size, int) else str(size)


def _offset_text(fixed: int, variable: list[str]) -> str:
    return "+".join(([str(fixed)] if fixed or not variable else []) + variable)


def svg(layout: Layout, variant: int) -> str:
    """One row of boxes, widths growing with the logarithm of the size, offsets above the edges."""
    boxes = []
    for f in layout.fields:
        size = f.sizes[variant]
        label_w = max(len(f.name), len(_size_text(size))) * CHAR + 20
        size_w = 36 + 20 * math.log2(size) if isinstance(size, int) and size > 0 else 110
        boxes.append(max(label_w, size_w))
    height, top, pad = 96, 30, 10
    width = sum(boxes) + 2 * pad
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" class="tesmar-layout" viewBox="0 0 {width:.0f} {height}" '
             f'width="{width:.0f}" height="{height}" role="img" aria-label="{html.escape(layout.title)}">']
    x, fixed, variable = pad, 0, []
    for f, w in zip(layout.fields, boxes):
        size = f.sizes[variant]
        fill, stroke = COLOURS[f.kind]
        dash = '' if isinstance(size, int) or not layout.offsets else ' stroke-dasharray="5 3"'
        if layout.offsets:
            parts.append(f'<text x="{x:.1f}" y="{top - 8}" class="off">{_offset_text(fixed, variable)}</text>')
        parts.append(f'<rect x="{x:.1f}" y="{top}" width="{w:.1f}" height="48" rx="4" fill="{fill}" '
                     f'stroke="{stroke}" stroke-width="1.5"{dash}/>')
        cx = x + w / 2
        parts.append(f'<text x="{cx:.1f}" y="{top + 20}" class="name">{html.escape(f.name)}</text>')
        parts.append(f'<text x="{cx:.1f}" y="{top + 38}" class="size">{html.escape(_size_text(size))}</text>')
        if isinstance(size, int):
            fixed += size
        else:
            variable.append(str(size))
        x += w
    if layout.offsets:
        parts.append(f'<text x="{x:.1f}" y="{top - 8}" class="off end">{_offset_text(fixed, variable)}</text>')
    parts.append("</svg>")
    return "".join(parts)


class TesmarLayout(SphinxDirective):
    required_arguments = 1
    has_content = False

    def run(self) -> list[nodes.Node]:
        name = self.arguments[0]
        if name not in LAYOUTS:
            raise self.error(f"unknown layout {name!r}; known: {', '.join(LAYOUTS)}")
        try:
            layout = LAYOUTS[name]()
        except LayoutMismatch as e:
            raise self.error(f"layout {name!r} does not match the package's output: {e}") from None
        shown = len(layout.variants) - 1
        out = nodes.container(classes=["tesmar-layout-box"])
        caption = (f"<figcaption>{html.escape(layout.title)}, drawn at {html.escape(layout.variants[shown])}"
                   "</figcaption>" if layout.variants[shown] else "")
        out += nodes.raw("", f'<figure class="tesmar-figure">{svg(layout, shown)}{caption}</figure>',
                         format="html")
        out += self._table(layout)
        if layout.caption:
            out += nodes.paragraph("", layout.caption, classes=["tesmar-layout-caption"])
        return [out]

    def _table(self, layout: Layout) -> nodes.table:
        many = len(layout.variants) > 1
        heads = ["field"] + ([v.replace(": ", "\n") for v in layout.variants] if many else [layout.size_head]) + ["what it is"]
        table = nodes.table(classes=["tesmar-layout-table"])
        group = nodes.tgroup(cols=len(heads))
        table += group
        for _ in heads:
            group += nodes.colspec(colwidth=1)
        thead = nodes.thead()
        group += thead
        row = nodes.row()
        for h in heads:
            row += nodes.entry("", nodes.paragraph(text=h))
        thead += row
        body = nodes.tbody()
        group += body
        for f in layout.fields:
            row = nodes.row()
            cells = [f.name] + [_size_text(s) for s in f.sizes] + [f.note]
            for c in cells:
                row += nodes.entry("", nodes.paragraph(text=c))
            body += row
        return table


def setup(app):
    app.add_directive("tesmar-layout", TesmarLayout)
    return {"parallel_read_safe": True}
