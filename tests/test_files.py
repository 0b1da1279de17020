"""tesmar.files: files and streams in pieces, byte for byte the whole-buffer envelopes."""
import asyncio
import io
import os
import subprocess
import sys
import tempfile

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import tesmar
from tesmar.aes import core as aes
from tesmar.errors import DecryptionError, InvalidInputError
from tesmar.files import core as files
from tesmar.hybrid import core as hybrid

KEY = "a file key"
HEAD = files._HEAD_SIZE
CHUNK = 4096
OAEP = padding.OAEP(mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)


class Pipe(io.RawIOBase):
    """A stream that cannot seek and gives short reads, as a pipe does."""

    def __init__(self, data=b""):
        self._data = io.BytesIO(data)
        self.written = bytearray()

    def readable(self):
        return True

    def writable(self):
        return True

    def read(self, n=-1):
        return self._data.read(min(n, 1000) if n and n > 0 else n)

    def write(self, b):
        self.written += b
        return len(b)


# Whole-buffer inputs (below the head), the first streamed size, and sizes around the pieces that
# follow the head: the AES tag then straddles or ends exactly on a piece boundary.
AES_SIZES = [1, 100, HEAD - 29, HEAD - 28, HEAD - 27, HEAD + CHUNK - 28, HEAD + CHUNK - 27,
             HEAD + CHUNK - 12, HEAD + 3 * CHUNK + 5]
HYBRID_SIZES = [1, 1000, HEAD - 545, HEAD - 544, HEAD - 543, HEAD + CHUNK, HEAD + 2 * CHUNK + 17]


def round_trip(encrypt_file, decrypt_file, encrypt_mem, decrypt_mem, key_in, key_out, data, chunk):
    out = io.BytesIO()
    written = encrypt_file(io.BytesIO(data), out, key_in, chunk_size=chunk)
    assert written == len(out.getvalue())
    assert decrypt_mem(out.getvalue(), key_out) == data
    plain = io.BytesIO()
    assert decrypt_file(io.BytesIO(encrypt_mem(data, key_in)), plain, key_out, chunk_size=chunk) == len(data)
    assert plain.getvalue() == data


@pytest.mark.parametrize("chunk", [7, CHUNK])
@pytest.mark.parametrize("size", AES_SIZES)
def test_aes_files_are_the_envelope_both_ways(size, chunk):
    data = os.urandom(size)
    round_trip(files.aes_encrypt_file, files.aes_decrypt_file, aes.encrypt_bytes, aes.decrypt_bytes, KEY, KEY, data,
               chunk)


@pytest.mark.parametrize("size", HYBRID_SIZES)
def test_hybrid_files_are_the_written_layout_both_ways(rsa_keys, size):
    private_pem, public_pem = rsa_keys
    data = os.urandom(size)
    round_trip(files.hybrid_encrypt_file, files.hybrid_decrypt_file, hybrid.encrypt_bytes, hybrid.decrypt_auto,
               public_pem, private_pem, data, CHUNK)


def spill_counter(monkeypatch):
    """Counts the anonymous temporary files the file functions open."""
    opened = []
    real = tempfile.TemporaryFile
    monkeypatch.setattr(tempfile, "TemporaryFile", lambda *a, **k: opened.append(1) or real(*a, **k))
    return opened


# The ciphertext waits for its tag in memory up to 256 KiB (at this chunk size), beyond that on disk.
@pytest.mark.parametrize("size, spills", [(HEAD + 3 * CHUNK, 0), (300_000, 1)])
def test_hybrid_to_a_pipe_spools_and_from_a_pipe_reads_short_pieces(rsa_keys, monkeypatch, size, spills):
    private_pem, public_pem = rsa_keys
    data = os.urandom(size)
    pipe = Pipe(data)
    opened = spill_counter(monkeypatch)
    files.hybrid_encrypt_file(pipe, pipe, public_pem, chunk_size=CHUNK)
    assert len(opened) == spills
    blob = bytes(pipe.written)
    assert hybrid.decrypt_auto(blob, private_pem) == data
    back = Pipe(blob)
    files.hybrid_decrypt_file(back, back, private_pem, chunk_size=CHUNK)
    assert bytes(back.written) == data


@pytest.mark.parametrize("how", ["python", "descriptor"])
def test_hybrid_to_a_file_open_for_appending_spools(rsa_keys, tmp_path, how):
    # Every write to such a file goes to its end: the tag cannot be written back in place.
    private_pem, public_pem = rsa_keys
    data = os.urandom(HEAD + CHUNK)
    path = tmp_path / "log"
    path.write_bytes(b"before")
    if how == "python":
        out = open(path, "ab")
    else:
        out = os.fdopen(os.open(path, os.O_WRONLY | os.O_APPEND), "wb")
    with out:
        files.hybrid_encrypt_file(io.BytesIO(data), out, public_pem, chunk_size=CHUNK)
    written = path.read_bytes()
    assert written[:6] == b"before" and hybrid.decrypt_auto(written[6:], private_pem) == data


def legacy_blob(public_pem, data):
    """The legacy HYBR layout, built with pyca: the envelope's key is the Base64 text of the raw key."""
    raw = os.urandom(32)
    pub = serialization.load_pem_public_key(public_pem.encode())
    wrapped = pub.encrypt(raw, OAEP)
    import base64

    envelope = aes.encrypt_bytes(data, base64.b64encode(raw).decode())
    return b"HYBR" + len(wrapped).to_bytes(4, "big") + wrapped + envelope


def empty_net_blob(public_pem):
    """The length-prefixed layout around no ciphertext at all, which the reader accepts."""
    key, nonce = os.urandom(32), os.urandom(12)
    wrapped = serialization.load_pem_public_key(public_pem.encode()).encrypt(key, OAEP)
    tag = AESGCM(key).encrypt(nonce, b"", None)
    return (512).to_bytes(4, "little") + wrapped + nonce + tag


@pytest.mark.parametrize("size", [100, HEAD + CHUNK + 3])
def test_hybrid_file_reads_the_legacy_layout(rsa_keys, size):
    private_pem, public_pem = rsa_keys
    data = os.urandom(size)
    out = io.BytesIO()
    files.hybrid_decrypt_file(io.BytesIO(legacy_blob(public_pem, data)), out, private_pem, chunk_size=CHUNK)
    assert out.getvalue() == data


def test_empty_inputs_as_the_formats_allow(rsa_keys, tmp_path):
    private_pem, public_pem = rsa_keys
    for encrypt, key in ((files.aes_encrypt_file, KEY), (files.hybrid_encrypt_file, public_pem)):
        with pytest.raises(InvalidInputError, match="^Data cannot be empty$"):
            encrypt(io.BytesIO(b""), tmp_path / "out", key)
    assert list(tmp_path.iterdir()) == []
    out = tmp_path / "plain"
    assert files.hybrid_decrypt_file(io.BytesIO(empty_net_blob(public_pem)), out, private_pem) == 0
    assert out.read_bytes() == b""


def spoilt(blob, how):
    if how == "first":
        return bytes([blob[0] ^ 1]) + blob[1:]
    if how == "middle":
        i = len(blob) // 2
        return blob[:i] + bytes([blob[i] ^ 1]) + blob[i + 1:]
    if how == "last":
        return blob[:-1] + bytes([blob[-1] ^ 1])
    return blob[:-1]  # truncated


def mem_error(call):
    with pytest.raises(Exception) as info:
        call()
    return info.value


@pytest.mark.parametrize("how", ["first", "middle", "last", "truncated"])
@pytest.mark.parametrize("family", ["aes", "hybrid"])
def test_tampered_input_fails_as_in_memory_and_leaves_no_output(rsa_keys, tmp_path, family, how):
    private_pem, public_pem = rsa_keys
    data = os.urandom(HEAD + 2 * CHUNK)
    if family == "aes":
        blob, key, decrypt_file, decrypt_mem = aes.encrypt_bytes(data, KEY), KEY, files.aes_decrypt_file, aes.decrypt_bytes
    else:
        blob, key = hybrid.encrypt_bytes(data, public_pem), private_pem
        decrypt_file, decrypt_mem = files.hybrid_decrypt_file, hybrid.decrypt_auto
    bad = spoilt(blob, how)
    expected = mem_error(lambda: decrypt_mem(bad, key))
    target = tmp_path / "plain"
    target.write_bytes(b"kept")
    stream = io.BytesIO()
    for out in (target, stream):
        got = mem_error(lambda: decrypt_file(io.BytesIO(bad), out, key, chunk_size=CHUNK))
        assert (type(got), str(got), type(got.__cause__)) == (type(expected), str(expected), type(expected.__cause__))
    assert isinstance(expected, DecryptionError)
    assert target.read_bytes() == b"kept" and stream.getvalue() == b""
    assert sorted(p.name for p in tmp_path.iterdir()) == ["plain"]


# Plaintext waits in memory up to 256 KiB or one chunk, whichever is larger, beyond that on disk.
@pytest.mark.parametrize("size", [100, 300_000])
def test_a_file_object_gets_plaintext_only_once_the_tag_checks(size, monkeypatch):
    data = os.urandom(size)
    blob = aes.encrypt_bytes(data, KEY)
    opened = spill_counter(monkeypatch)
    for chunk in (CHUNK, files.DEFAULT_CHUNK_SIZE):
        opened.clear()
        stream = io.BytesIO()
        with pytest.raises(DecryptionError):
            files.aes_decrypt_file(io.BytesIO(blob[:-1] + bytes([blob[-1] ^ 1])), stream, KEY, chunk_size=chunk)
        assert stream.getvalue() == b""
        assert files.aes_decrypt_file(io.BytesIO(blob), stream, KEY, chunk_size=chunk) == size
        assert stream.getvalue() == data
        assert len(opened) == (2 if size > max(256 << 10, chunk) else 0)


def test_wrong_keys_fail_as_in_memory(rsa_keys):
    private_pem, public_pem = rsa_keys
    data = os.urandom(HEAD + 10)
    blob = aes.encrypt_bytes(data, KEY)
    got = mem_error(lambda: files.aes_decrypt_file(io.BytesIO(blob), io.BytesIO(), "other key"))
    assert str(got) == str(mem_error(lambda: aes.decrypt_bytes(blob, "other key")))
    with pytest.raises(InvalidInputError, match="^Invalid RSA private key PEM: "):
        files.hybrid_decrypt_file(io.BytesIO(hybrid.encrypt_bytes(data, public_pem)), io.BytesIO(), public_pem)


def test_paths_replace_the_target_only_when_done(tmp_path):
    source, target = tmp_path / "data", tmp_path / "data.enc"
    data = os.urandom(HEAD + CHUNK)
    source.write_bytes(data)
    files.aes_encrypt_file(str(source), target, KEY, chunk_size=CHUNK)
    assert oct(target.stat().st_mode & 0o777) == "0o600"
    files.aes_decrypt_file(target, os.fsencode(tmp_path / "back"), KEY)
    assert (tmp_path / "back").read_bytes() == data
    assert sorted(p.name for p in tmp_path.iterdir()) == ["back", "data", "data.enc"]


@pytest.mark.parametrize("bad, error", [(0, ValueError), (1.5, TypeError), (True, TypeError)])
def test_chunk_size_is_checked(bad, error):
    with pytest.raises(error):
        files.aes_encrypt_file(io.BytesIO(b"x"), io.BytesIO(), KEY, chunk_size=bad)


@pytest.mark.parametrize("size", [100, HEAD + 3 * CHUNK + 5])
@pytest.mark.parametrize("family", ["aes", "hybrid"])
def test_progress_ends_at_the_input_size_both_ways(rsa_keys, family, size):
    private_pem, public_pem = rsa_keys
    encrypt, decrypt, key_in, key_out = {
        "aes": (files.aes_encrypt_file, files.aes_decrypt_file, KEY, KEY),
        "hybrid": (files.hybrid_encrypt_file, files.hybrid_decrypt_file, public_pem, private_pem)}[family]
    data = os.urandom(size)
    sealed, seen = io.BytesIO(), []
    encrypt(io.BytesIO(data), sealed, key_in, chunk_size=CHUNK, progress=seen.append)
    assert seen[-1] == size and seen == sorted(seen)
    seen = []
    decrypt(io.BytesIO(sealed.getvalue()), io.BytesIO(), key_out, chunk_size=CHUNK, progress=seen.append)
    assert seen[-1] == len(sealed.getvalue()) and seen == sorted(seen)


class Trickle(io.RawIOBase):
    """A raw target that takes at most a few bytes a call, as a raw file may."""

    def __init__(self, most):
        self.most, self.written = most, bytearray()

    def writable(self):
        return True

    def write(self, b):
        taken = bytes(b[:self.most])
        self.written += taken
        return len(taken)


@pytest.mark.parametrize("size", [100, HEAD + 3 * CHUNK + 5])
def test_raw_targets_that_take_part_of_a_write_get_everything(rsa_keys, size):
    private_pem, public_pem = rsa_keys
    data = os.urandom(size)
    sealed = Trickle(333)
    assert files.aes_encrypt_file(io.BytesIO(data), sealed, KEY, chunk_size=CHUNK) == len(sealed.written)
    plain = Trickle(1000)
    files.aes_decrypt_file(io.BytesIO(bytes(sealed.written)), plain, KEY, chunk_size=CHUNK)
    assert plain.written == data
    sealed = Trickle(333)
    files.hybrid_encrypt_file(io.BytesIO(data), sealed, public_pem, chunk_size=CHUNK)
    assert hybrid.decrypt_auto(bytes(sealed.written), private_pem) == data


def test_a_target_that_takes_nothing_is_an_error_not_a_short_file():
    with pytest.raises(OSError, match="took no data"):
        files.aes_encrypt_file(io.BytesIO(b"data"), Trickle(0), KEY)


def test_any_object_with_fspath_is_a_path(tmp_path):
    class Where:
        def __init__(self, path):
            self.path = path

        def __fspath__(self):
            return str(self.path)

    (tmp_path / "data").write_bytes(b"some data")
    files.aes_encrypt_file(Where(tmp_path / "data"), Where(tmp_path / "sealed"), KEY)
    assert aes.decrypt_bytes((tmp_path / "sealed").read_bytes(), KEY) == b"some data"


def test_coroutines_run_the_core_functions(rsa_keys):
    private_pem, public_pem = rsa_keys
    data = os.urandom(HEAD + 100)

    async def both():
        sealed, back = io.BytesIO(), io.BytesIO()
        await tesmar.files.hybrid_encrypt_file(io.BytesIO(data), sealed, public_pem, chunk_size=CHUNK)
        sealed.seek(0)
        await tesmar.files.hybrid_decrypt_file(sealed, back, private_pem)
        with pytest.raises(DecryptionError):
            await tesmar.files.aes_decrypt_file(io.BytesIO(bytes(HEAD + 50)), io.BytesIO(), KEY)
        return back.getvalue()

    assert asyncio.run(both()) == data


def test_states_refuse_foreign_objects_and_reuse():
    with pytest.raises(TypeError):
        files._seal_update(object(), b"x")
    state, consumed = files._aes_open_begin(KEY, bytes(64))
    with pytest.raises(ValueError):
        files._seal_update(state, b"x")  # an opener is not a sealer
    sealer, header, tag_at = files._aes_seal_begin(KEY)
    assert len(header) == 12 and tag_at is None
    files._seal_end(sealer)
    with pytest.raises(ValueError):
        files._seal_update(sealer, b"x")


def test_import_tesmar_does_not_load_files_or_cli():
    code = "import sys, tesmar; print(sorted(m for m in sys.modules if m.startswith(('tesmar.files', 'tesmar.cli'))))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


def test_threads_sharing_a_state_take_turns():
    # Small pieces are worked on with the GIL held, large ones with it released, on one state at
    # once: every piece goes through whole. (The holder of the state may wait for the GIL, for its
    # result, so a thread that holds the GIL lets it go while it waits for the state.)
    import threading

    state, _ = files._aes_open_begin(KEY, bytes(64))
    sizes = []
    pieces = [50_000, 300_000] * 20

    def work():
        for n in pieces:
            sizes.append(len(files._open_update(state, bytes(n))))

    threads = [threading.Thread(target=work, daemon=True) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not any(t.is_alive() for t in threads)
    assert sum(sizes) == 4 * sum(pieces) - 16  # all the input but the held-back tag
