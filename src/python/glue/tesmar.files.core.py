"""Files and binary streams of any size in the AES-GCM envelope and the hybrid envelope.

The functions write exactly the bytes that tesmar.aes.core.encrypt_bytes and
tesmar.hybrid.core.encrypt_bytes would return for the whole input, and read exactly what
tesmar.aes.core.decrypt_bytes and tesmar.hybrid.core.decrypt_auto read, with the same errors; but
the data passes through in pieces of chunk_size bytes, so memory does not grow with its size.

A source is a path or a binary file object open for reading; a target a path or a binary file
object open for writing. Decryption never lets out plaintext that has not been authenticated: a
target path receives a temporary file beside it that is renamed into place once the tag checks
(removed on any failure, the target untouched); a file object receives the plaintext only after
the check (up to 256 KiB or one chunk of it, whichever is larger, waits in memory, more in an
anonymous temporary file). Encryption to a path also goes through a temporary file renamed into
place. New files are created with mode 0600.

Each function returns the number of bytes written. ``progress``, when given, is called with the
number of input bytes processed so far after each piece; its last call gives the input's size. A
raw target that takes part of a write is given the rest.
"""
import io
import os
import tempfile

from tesmar.aes import core as aes_core
from tesmar.hybrid import core as hybrid_core

DEFAULT_CHUNK_SIZE = 1 << 20


def _is_path(obj):
    # As isinstance(obj, os.PathLike) says of the type, without the abstract class's lookup, which
    # takes longer than the rest of a small input's way through here.
    return isinstance(obj, (str, bytes)) or getattr(type(obj), "__fspath__", None) is not None


def _read_full(stream, n):
    """Up to n bytes, fewer only at the end of the input (pipes return short reads)."""
    data = stream.read(n)
    if data is None or len(data) >= n or not data:
        return data or b""
    parts = [data]
    have = len(data)
    while have < n:
        more = stream.read(n - have)
        if not more:
            break
        parts.append(more)
        have += len(more)
    return b"".join(parts)


def _check_chunk_size(chunk_size):
    if not isinstance(chunk_size, int) or isinstance(chunk_size, bool):
        raise TypeError("chunk_size must be an int")
    if chunk_size < 1:
        raise ValueError("chunk_size must be at least 1")


class _Held:
    """Output waiting for a tag: in memory up to 256 KiB or one chunk, whichever is larger (the
    pieces in flight take about that much already), else in an anonymous temporary file. A
    temporary file costs system calls, each of which lets the GIL go and waits for it again, and a
    round trip of every byte through the kernel: for an input of a chunk or two, several times the
    work of the cipher, and what two threads doing it at once scale worst on."""

    FLOOR = 256 << 10

    def __init__(self, chunk_size):
        self._limit = max(self.FLOOR, chunk_size)
        self._blocks, self._size, self._file = [], 0, None

    def write(self, data):
        if self._file is None and self._size + len(data) > self._limit:
            self._file = tempfile.TemporaryFile()
            for block in self._blocks:
                self._file.write(block)
            self._blocks = []
        if self._file is None:
            self._blocks.append(data)
            self._size += len(data)
        else:
            self._file.write(data)

    def copy_to(self, target, chunk_size=DEFAULT_CHUNK_SIZE):
        if self._file is None:
            for block in self._blocks:
                _write_all(target, block)
        else:
            self._file.seek(0)
            while block := self._file.read(chunk_size):
                _write_all(target, block)

    def close(self):
        self._blocks = []
        if self._file is not None:
            self._file.close()


class _Target:
    """Where output goes. held: nothing reaches the caller's file object before commit()."""

    def __init__(self, target, held, chunk_size=DEFAULT_CHUNK_SIZE):
        self._path = None
        self._final = None
        self.count = 0
        if _is_path(target):
            path = os.fspath(target)
            if isinstance(path, bytes):
                path = os.fsdecode(path)
            directory, name = os.path.split(os.path.abspath(path))
            fd, self._path = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=directory)
            self.stream = os.fdopen(fd, "wb")
            self._target = path
        elif held:
            self._final = target
            self.stream = _Held(chunk_size)
        else:
            self.stream = target

    def seekable(self):
        """Whether a tag can be written back in place: not on pipes, nor where every write
        goes to the end (a file opened for appending)."""
        try:
            if not self.stream.seekable():
                return False
        except (AttributeError, OSError, ValueError):
            return False
        if "a" in getattr(self.stream, "mode", ""):
            return False
        try:
            import fcntl

            return not fcntl.fcntl(self.stream.fileno(), fcntl.F_GETFL) & os.O_APPEND
        except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
            return True

    def write(self, data):
        _write_all(self.stream, data)
        self.count += len(data)

    def commit(self):
        if self._path is not None:
            self.stream.flush()
            os.fsync(self.stream.fileno())
            self.stream.close()
            os.replace(self._path, self._target)
            self._path = None
        elif self._final is not None:
            self.stream.copy_to(self._final)
            self._final.flush()
            self.stream.close()
            self._final = None

    def discard(self):
        if self._path is not None:
            self.stream.close()
            try:
                os.unlink(self._path)
            except FileNotFoundError:
                pass
            self._path = None
        elif self._final is not None:
            self.stream.close()
            self._final = None

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            self.discard()


def _write_all(stream, data):
    """stream.write(data), again for the rest where a raw file object takes only part of it. A
    write that returns None is taken as whole: writers of our callers' own often return nothing."""
    written = stream.write(data)
    if written is None or written >= len(data):
        return
    view = memoryview(data)
    while written < len(view):
        more = stream.write(view[written:])
        if more is None:
            raise BlockingIOError("the target cannot take more data without blocking")
        if more <= 0:
            raise OSError("the target took no data")
        written += more


def _run(source, target, key, chunk_size, progress, opening, whole, stream):
    """Reads the input's first piece. An input shorter than that is done in one call, whole(data,
    key); a longer one goes piece by piece, stream(src, out, first, key, chunk_size, progress).

    Between two file objects the one call writes its result straight to the target (the result of
    a decryption is authentic once whole returns): for a small input the pieces' machinery would
    cost more than the cipher, and it runs with the GIL held, between released calls."""
    _check_chunk_size(chunk_size)
    head_size = max(chunk_size, _HEAD_SIZE) if opening else chunk_size  # noqa: F821 (native)
    own = _is_path(source)
    src = open(source, "rb") if own else source
    try:
        first = _read_full(src, head_size)
        short = len(first) < head_size
        if short and not _is_path(target):
            result = whole(first, key)
            _write_all(target, result)
            if opening:
                target.flush()
            count = len(result)
        else:
            with _Target(target, opening, chunk_size) as out:
                if short:
                    out.write(whole(first, key))
                else:
                    stream(src, out, first, key, chunk_size, progress)
                out.commit()
            count = out.count
        if short and progress is not None:
            progress(len(first))
        return count
    finally:
        if own:
            src.close()


def _pump(src, out, chunk_size, update, first, progress, done=0):
    """Passes first and the rest of the input through update() into out; done: the input bytes
    consumed before first."""
    chunk = first
    while chunk:
        out.write(update(chunk))
        done += len(chunk)
        if progress is not None:
            progress(done)
        chunk = _read_full(src, chunk_size)


def _aes_seal(src, out, first, key, chunk_size, progress):
    state, header, _ = _aes_seal_begin(key)  # noqa: F821
    out.write(header)
    _pump(src, out, chunk_size, lambda chunk: _seal_update(state, chunk), first, progress)  # noqa: F821
    out.write(_seal_end(state))  # noqa: F821


def _hybrid_seal(src, out, first, public_pem, chunk_size, progress):
    """The hybrid layout has its tag before the ciphertext: it is written in place when the
    output can seek, else the ciphertext waits (as decrypted plaintext does, in memory up to a
    chunk, beyond that in an anonymous temporary file)."""
    state, header, tag_at = _hybrid_seal_begin(public_pem)  # noqa: F821
    update = lambda chunk: _seal_update(state, chunk)  # noqa: E731, F821
    if out.seekable():
        start = out.stream.tell()
        out.write(header)
        _pump(src, out, chunk_size, update, first, progress)
        tag = _seal_end(state)  # noqa: F821
        end = out.stream.tell()
        out.stream.seek(start + tag_at)
        _write_all(out.stream, tag)
        out.stream.seek(end)
        return
    spool = _Held(chunk_size)
    try:
        spooled = _Target(spool, held=False)
        _pump(src, spooled, chunk_size, update, first, progress)
        tag = _seal_end(state)  # noqa: F821
        out.write(header[:tag_at] + tag + header[tag_at + len(tag):])
        spool.copy_to(out, chunk_size)
    finally:
        spool.close()


def _open_pieces(begun, src, out, head, chunk_size, progress):
    state, consumed = begun
    update = lambda chunk: _open_update(state, chunk)  # noqa: E731, F821
    _pump(src, out, chunk_size, update, memoryview(head)[consumed:], progress, consumed)
    _open_end(state)  # noqa: F821


def _aes_open(src, out, head, key, chunk_size, progress):
    _open_pieces(_aes_open_begin(key, head), src, out, head, chunk_size, progress)  # noqa: F821


def _hybrid_open(src, out, head, private_pem, chunk_size, progress):
    _open_pieces(_hybrid_open_begin(private_pem, head), src, out, head, chunk_size, progress)  # noqa: F821


def aes_encrypt_file(source, target, key: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE, progress=None) -> "int":
    """Encrypt a file or stream with AES-256-GCM under a key text, as aes.core.encrypt_bytes.

    Writes nonce (12 bytes) || ciphertext || tag (16 bytes). Returns the bytes written. Raises
    InvalidInputError for an empty input, EncryptionError if the cipher fails, TypeError for a key
    that is not text, OSError for the files.
    """
    return _run(source, target, key, chunk_size, progress, False, aes_core.encrypt_bytes, _aes_seal)


def aes_decrypt_file(source, target, key: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE, progress=None) -> "int":
    """Decrypt an AES-GCM envelope from a file or stream, as aes.core.decrypt_bytes.

    Returns the plaintext bytes written, which reach the target only after the tag checks.
    Raises DecryptionError (one message, no cause) for a wrong key, tampered or truncated data,
    TypeError for a key that is not text, OSError for the files.
    """
    return _run(source, target, key, chunk_size, progress, True, aes_core.decrypt_bytes, _aes_open)


def hybrid_encrypt_file(source, target, public_pem: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                        progress=None) -> "int":
    """Seal a file or stream to an RSA public key, as hybrid.core.encrypt_bytes.

    Writes key length (4 bytes, little-endian) || wrapped key || nonce (12) || tag (16) ||
    ciphertext. Returns the bytes written. Raises InvalidInputError for an empty input or bad key
    text, EncryptionError when the RSA primitive fails, OSError for the files.
    """
    return _run(source, target, public_pem, chunk_size, progress, False, hybrid_core.encrypt_bytes, _hybrid_seal)


def hybrid_decrypt_file(source, target, private_pem: "str", *, chunk_size: "int" = DEFAULT_CHUNK_SIZE,
                        progress=None) -> "int":
    """Decrypt a hybrid blob of any layout from a file or stream, as hybrid.core.decrypt_auto.

    Returns the plaintext bytes written, which reach the target only after the tag checks.
    Raises InvalidInputError for bad key text and DecryptionError for a wrong key or tampered or
    foreign data (the messages of decrypt_auto), OSError for the files.
    """
    return _run(source, target, private_pem, chunk_size, progress, True, hybrid_core.decrypt_auto, _hybrid_open)


__all__ = ["DEFAULT_CHUNK_SIZE", "aes_encrypt_file", "aes_decrypt_file", "hybrid_encrypt_file", "hybrid_decrypt_file"]
