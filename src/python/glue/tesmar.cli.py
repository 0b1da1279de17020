"""The `tesmar` command line (also `python -m tesmar`).

Exit status: 0 success, 1 a failed check or authentication (or another failure of the work
itself), 2 a usage error (bad options, missing or existing files, unusable input). Messages go to
standard error in the package's words; expected failures never show a traceback.
"""
import argparse
import getpass
import json
import os
import sys
import tempfile
import time

import tesmar
from tesmar.errors import DecryptionError, InvalidInputError, TesmarError

PROG = "tesmar"


class _UsageError(Exception):
    """A mistake in how the command was called: exit status 2."""


class _CheckFailed(Exception):
    """A check answered no (signature, password): exit status 1, no message unless asked."""


# ---- input and output ---------------------------------------------------------------------------


def _read_bytes(path):
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as f:
        return f.read()


def _read_text(path, what):
    data = _read_bytes(path)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        raise _UsageError(f"{what} {path!r} is not UTF-8 text") from None


def _check_new(path, force):
    if path != "-" and os.path.lexists(path) and not force:
        raise _UsageError(f"{path!r} exists; use --force to overwrite it")


def _write_atomic(path, data, mode=0o600):
    """Writes a whole file through a temporary file beside it, created 0600, renamed into place."""
    directory, name = os.path.split(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=directory)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        if mode != 0o600:
            os.chmod(tmp, mode)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        raise


def _binary_stdout():
    if sys.stdout.isatty():
        raise _UsageError("refusing to write binary data to a terminal; use -o FILE")
    return sys.stdout.buffer


def _write_output(path, data, force, binary=True):
    if path == "-":
        out = _binary_stdout() if binary else sys.stdout.buffer
        out.write(data)
        out.flush()
        return
    _check_new(path, force)
    _write_atomic(path, data)


# ---- secrets from the user ----------------------------------------------------------------------


def _tty_prompt(prompt, confirm):
    try:
        fd = os.open("/dev/tty", os.O_RDWR | os.O_NOCTTY)
    except OSError:
        raise _UsageError("no terminal to prompt on; use --key-file or --key-env") from None
    os.close(fd)
    first = getpass.getpass(prompt)
    if confirm and getpass.getpass("Again: ") != first:
        raise _UsageError("the two entries differ")
    return first


def _from_file(path):
    text = _read_text(path, "key file")
    # One line ending, as editors and `echo` leave it, is not part of the secret.
    if text.endswith("\r\n"):
        return text[:-2]
    return text[:-1] if text.endswith("\n") else text


def _secret_text(args, confirm, what="Key text"):
    if getattr(args, "key_file", None) is not None:
        text = _from_file(args.key_file)
    elif getattr(args, "key_env", None) is not None:
        if args.key_env not in os.environ:
            raise _UsageError(f"environment variable {args.key_env} is not set")
        text = os.environ[args.key_env]
    else:
        text = _tty_prompt(f"{what}: ", confirm)
    if not text:
        raise _UsageError(f"{what.lower()} is empty")
    return text


# ---- progress -----------------------------------------------------------------------------------


def _size_text(n):
    for unit in ("B", "KiB", "MiB", "GiB"):
        if n < 1024 or unit == "GiB":
            return f"{n:.1f} {unit}" if unit != "B" else f"{n} B"
        n /= 1024
    return f"{n:.1f} TiB"


class _Progress:
    """A one-line progress display on a terminal's standard error; silent otherwise."""

    def __init__(self, quiet, source):
        self.on = not quiet and sys.stderr.isatty()
        self.total = None
        self.shown = False
        self.last = 0.0
        if source != "-":
            try:
                self.total = os.path.getsize(source)
            except OSError:
                pass

    def __call__(self, done):
        if not self.on:
            return
        now = time.monotonic()
        if now - self.last < 0.2:
            return
        self.last = now
        line = _size_text(done)
        if self.total:
            line += f" of {_size_text(self.total)} ({100 * done // self.total}%)"
        sys.stderr.write(f"\r{line}   ")
        sys.stderr.flush()
        self.shown = True

    def close(self):
        if self.shown:
            sys.stderr.write("\n")
            sys.stderr.flush()


# ---- subcommands --------------------------------------------------------------------------------


def _enum_value(enum, text, what):
    text = text.strip()
    if text.isdigit():
        try:
            return enum(int(text))
        except ValueError:
            pass
    else:
        name = text.upper().replace("-", "_")
        if name in enum.__members__:
            return enum[name]
    choices = ", ".join(m.name.lower().replace("_", "-") for m in enum)
    raise _UsageError(f"unknown {what} {text!r} (one of {choices}, or its number)")


def _cmd_keygen(args):
    public = args.public or args.private + ".pub"
    for path in (args.private, public):
        _check_new(path, args.force)
    if args.kind == "rsa":
        private_key, public_key = tesmar.rsa.core.new_key_pair()
        private_key, public_key = private_key.encode("ascii"), public_key.encode("ascii")
    else:
        from tesmar.quantum import core as q
        from tesmar.quantum.types import QuantumGeneration, QuantumStrength, SignatureAlgorithm

        strength = _enum_value(QuantumStrength, args.strength, "strength")
        if args.kind == "quantum":
            generation = _enum_value(QuantumGeneration, args.scheme, "scheme")
            public_key, private_key = q.generate_keypair(generation, strength)
        else:
            algorithm = _enum_value(SignatureAlgorithm, args.algorithm, "algorithm")
            public_key, private_key = q.generate_signature_keypair(algorithm, strength)
    _write_atomic(args.private, private_key, 0o600)
    _write_atomic(public, public_key, 0o644)
    if not args.quiet:
        print(f"private key: {args.private} (mode 0600)\npublic key:  {public}", file=sys.stderr)


def _pem(path, what):
    return _read_text(path, what)


def _file_call(args, encrypt):
    from tesmar.files import core as files

    if args.output != "-":
        _check_new(args.output, args.force)
    source = sys.stdin.buffer if args.input == "-" else args.input
    target = _binary_stdout() if args.output == "-" and encrypt else (
        sys.stdout.buffer if args.output == "-" else args.output)
    progress = _Progress(args.quiet, args.input)
    options = {"chunk_size": args.chunk_size, "progress": progress}
    try:
        if args.public_key or args.private_key:
            if encrypt:
                files.hybrid_encrypt_file(source, target, _pem(args.public_key, "public key"), **options)
            else:
                files.hybrid_decrypt_file(source, target, _pem(args.private_key, "private key"), **options)
        else:
            key = _secret_text(args, confirm=encrypt)
            if encrypt:
                files.aes_encrypt_file(source, target, key, **options)
            else:
                files.aes_decrypt_file(source, target, key, **options)
    finally:
        progress.close()
    if args.output == "-":
        sys.stdout.buffer.flush()


def _quantum_call(args, encrypt):
    from tesmar.quantum import core as q

    if args.secret is None:
        raise _UsageError("--quantum-key needs --secret FILE (the encapsulated secret)")
    key = _read_bytes(args.quantum_key)
    if encrypt:
        for path in (args.output, args.secret):
            _check_new(path, args.force)
        secret, message = q.encrypt(_read_text(args.input, "input"), key)
        _write_output(args.output, message, args.force)
        _write_atomic(args.secret, secret)
    else:
        _check_new(args.output, args.force)
        text = q.decrypt(_read_bytes(args.input), key, _read_bytes(args.secret))
        _write_output(args.output, text.encode("utf-8"), args.force, binary=False)


def _check_modes(args, encrypt):
    chosen = [o for o, v in (("--key-file", args.key_file), ("--key-env", args.key_env),
                             ("--public-key" if encrypt else "--private-key",
                              args.public_key if encrypt else args.private_key),
                             ("--quantum-key", args.quantum_key)) if v is not None]
    if len(chosen) > 1:
        raise _UsageError(f"choose one of {', '.join(chosen)}")


def _cmd_encrypt(args):
    _check_modes(args, True)
    if args.quantum_key is not None:
        return _quantum_call(args, True)
    return _file_call(args, True)


def _cmd_decrypt(args):
    _check_modes(args, False)
    if args.quantum_key is not None:
        return _quantum_call(args, False)
    return _file_call(args, False)


def _is_pem(data):
    return data.lstrip().startswith(b"-----BEGIN")


def _cmd_sign(args):
    key = _read_bytes(args.key)
    data = _read_bytes(args.file)
    output = args.output or ("-" if args.file == "-" else args.file + ".sig")
    _check_new(output, args.force)
    if _is_pem(key):
        signature = tesmar.rsa.core.sign_bytes(data, key.decode("ascii", "replace"))
    else:
        from tesmar.quantum import core as q

        signature = q.sign(data, key)
    _write_output(output, signature, args.force)


def _cmd_verify(args):
    key = _read_bytes(args.key)
    data = _read_bytes(args.file)
    signature = _read_bytes(args.signature)
    if _is_pem(key):
        valid = tesmar.rsa.core.verify_bytes(data, signature, key.decode("ascii", "replace"))
    else:
        from tesmar.quantum import core as q

        valid = q.verify(data, signature, key)
    if args.verbose:
        print("valid" if valid else "not valid", file=sys.stderr)
    if not valid:
        raise _CheckFailed()


def _record(path):
    return _read_text(path, "record").strip()


def _cmd_password(args):
    from tesmar.password import core as pw

    if args.action == "hash":
        password = _password(args, confirm=True)
        record = pw.hash_password(password, args.iterations)
        _write_output(args.output, (record + "\n").encode("ascii"), args.force, binary=False)
        return
    if args.action == "verify":
        record = _record(args.record)
        ok = pw.verify_password(_password(args, confirm=False), record)
    else:
        ok = pw.needs_rehash(_record(args.record))
    if args.verbose:
        verdict = {"verify": ("matches", "does not match"), "needs-rehash": ("needs a rehash", "is current")}
        print(verdict[args.action][0 if ok else 1], file=sys.stderr)
    if not ok:
        raise _CheckFailed()


def _password(args, confirm):
    if args.password_file is not None:
        text = _from_file(args.password_file)
    else:
        text = _tty_prompt("Password: ", confirm)
    if not text:
        raise _UsageError("the password is empty")
    return text


# ---- inspect ------------------------------------------------------------------------------------


def _describe_blob(data, size):
    """What a blob is: the layouts come from the engine, a password record from its parser."""
    from tesmar.password import core as pw

    if data.lstrip().startswith(b"{"):
        try:
            record = pw._parse(data.decode("utf-8"))
        except (UnicodeDecodeError, TesmarError):
            record = None
        if record is not None and "hash" in record and "parameters" in record:
            return {"kind": "password record", "algorithm": record.get("algorithm"),
                    "version": record.get("version"), "created": record.get("createdUtc"),
                    "parameters": record.get("parameters")}
    info = _describe(data, size)  # noqa: F821 (native)
    if info["kind"] is None and size >= 29:
        info["note"] = (f"no recognised layout; as an AES-GCM envelope it would be nonce (12) || "
                        f"ciphertext ({size - 28}) || tag (16)")
    return info


def _cmd_inspect(args):
    if args.file == "-":
        data = sys.stdin.buffer.read()
        size = len(data)
    else:
        with open(args.file, "rb") as f:
            data = f.read(1 << 16)
            size = os.fstat(f.fileno()).st_size
    info = {"file": args.file, "size": size, **_describe_blob(data, size)}
    if args.json:
        print(json.dumps(info, sort_keys=True))
    else:
        for key, value in info.items():
            if key == "kind" and value is None:
                value = "unknown"
            if isinstance(value, dict):
                value = ", ".join(f"{k}={v}" for k, v in value.items())
            print(f"{key}: {value}")
    if info["kind"] is None:
        raise _CheckFailed()


def _cmd_info(args):
    from tesmar.errors import QuantumOperationError
    from tesmar.quantum import _oqs

    info = {"tesmar": tesmar.__version__, "python": sys.version.split()[0], "openssl": tesmar._internal._openssl_version()}
    try:
        lib = _oqs._oqs()
        info["liboqs"] = {"version": lib.version, "path": lib.path}
    except QuantumOperationError as e:
        reason = str(e)
        if e.__cause__ is not None:
            reason += f" ({e.__cause__})"
        info["liboqs"] = {"error": reason}
    if args.json:
        print(json.dumps(info, sort_keys=True))
        return
    print(f"tesmar {info['tesmar']} (Python {info['python']})")
    print(f"OpenSSL: {info['openssl']}")
    oqs = info["liboqs"]
    print(f"liboqs: {oqs['version']} ({oqs['path']})" if "path" in oqs else f"liboqs: not loaded: {oqs['error']}")


# ---- the parser ---------------------------------------------------------------------------------


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise _UsageError(message)


def _sub(subs, name, help, example, **kw):
    return subs.add_parser(name, help=help, description=help, epilog=f"example:\n  {example}",
                           formatter_class=argparse.RawDescriptionHelpFormatter, **kw)


def _chunk_size(text):
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError("must be a positive number of bytes")
    return n


def _io_options(p):
    p.add_argument("input", nargs="?", default="-", help="input file, or - for standard input (default)")
    p.add_argument("-o", "--output", default="-", help="output file, or - for standard output (default)")
    p.add_argument("--force", action="store_true", help="overwrite existing output files")
    p.add_argument("--quiet", action="store_true", help="no progress display")
    p.add_argument("--chunk-size", type=_chunk_size, default=1 << 20, help=argparse.SUPPRESS)
    p.add_argument("--key-file", help="read the key text from this file (one trailing newline is dropped)")
    p.add_argument("--key-env", metavar="NAME", help="read the key text from this environment variable")
    p.add_argument("--quantum-key", metavar="FILE", help="a post-quantum key (encryption of text)")
    p.add_argument("--secret", metavar="FILE", help="with --quantum-key: the encapsulated secret's file")


def _build_parser():
    parser = _Parser(
        prog=PROG,
        description="tesmar: AES-GCM, RSA, hybrid envelopes, password records and post-quantum "
                    "schemes at the command line.",
        epilog="exit status: 0 success, 1 a failed check or authentication, 2 a usage error.\n"
               "Without --key-file or --key-env, key texts and passwords are prompted for on the "
               "terminal.",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"tesmar {tesmar.__version__}")
    subs = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    subs.required = True

    p = _sub(subs, "keygen", "generate a key pair: private key (mode 0600) and public key beside it",
             "tesmar keygen rsa alice.pem            # alice.pem and alice.pem.pub")
    p.add_argument("kind", choices=["rsa", "quantum", "signature"])
    p.add_argument("private", help="file for the private key")
    p.add_argument("--public", help="file for the public key (default: PRIVATE.pub)")
    p.add_argument("--scheme", default="gen8", help="quantum: generation gen1..gen8 (default gen8)")
    p.add_argument("--strength", default="highest", help="quantum, signature: standard, medium or highest")
    p.add_argument("--algorithm", default="ml-dsa", help="signature: ml-dsa (default) or slh-dsa")
    p.add_argument("--force", action="store_true", help="overwrite existing key files")
    p.add_argument("--quiet", action="store_true", help="do not say where the keys went")
    p.set_defaults(run=_cmd_keygen)

    for name, encrypt in (("encrypt", True), ("decrypt", False)):
        example = ("tesmar encrypt backup.tar -o backup.tar.enc --key-file key.txt\n"
                   "  tesmar encrypt --public-key alice.pem.pub < report.pdf > report.pdf.enc"
                   if encrypt else
                   "tesmar decrypt backup.tar.enc -o backup.tar --key-env BACKUP_KEY\n"
                   "  tesmar decrypt --private-key alice.pem report.pdf.enc -o report.pdf")
        what = ("encrypt a file under a key text (AES-256-GCM), to an RSA public key (hybrid) or "
                "to a post-quantum key" if encrypt else
                "decrypt a file; nothing is written unless it authenticates")
        p = _sub(subs, name, what, example)
        _io_options(p)
        if encrypt:
            p.add_argument("--public-key", metavar="PEM", help="seal to this RSA public key (hybrid envelope)")
            p.set_defaults(private_key=None)
        else:
            p.add_argument("--private-key", metavar="PEM", help="open with this RSA private key (hybrid envelope)")
            p.set_defaults(public_key=None)
        p.set_defaults(run=_cmd_encrypt if encrypt else _cmd_decrypt)

    p = _sub(subs, "sign", "sign a file with RSA-PSS (PEM key) or a post-quantum signature key",
             "tesmar sign release.tar.gz --key alice.pem      # writes release.tar.gz.sig")
    p.add_argument("file", help="file to sign, or -")
    p.add_argument("--key", required=True, help="private key file")
    p.add_argument("-o", "--output", help="signature file (default FILE.sig; standard output for -)")
    p.add_argument("--force", action="store_true", help="overwrite an existing signature file")
    p.set_defaults(run=_cmd_sign)

    p = _sub(subs, "verify", "check a signature: exit status 0 when valid, 1 when not",
             "tesmar verify release.tar.gz release.tar.gz.sig --key alice.pem.pub && echo good")
    p.add_argument("file", help="signed file, or -")
    p.add_argument("signature", help="signature file")
    p.add_argument("--key", required=True, help="public key file")
    p.add_argument("-v", "--verbose", action="store_true", help="say the verdict on standard error")
    p.set_defaults(run=_cmd_verify)

    p = _sub(subs, "password", "password records (PBKDF2-SHA-512): hash, verify, needs-rehash",
             "tesmar password hash > record.json && tesmar password verify record.json")
    p.add_argument("action", choices=["hash", "verify", "needs-rehash"],
                   help="hash: record on standard output; verify: exit 0 when the password matches; "
                        "needs-rehash: exit 0 when the record should be made again")
    p.add_argument("record", nargs="?", default="-", help="verify, needs-rehash: record file, or - (default)")
    p.add_argument("--iterations", type=int, default=210_000, help="hash: PBKDF2 iterations (default 210000)")
    p.add_argument("--password-file", help="read the password from this file instead of prompting")
    p.add_argument("-o", "--output", default="-", help="hash: record file (default standard output)")
    p.add_argument("--force", action="store_true", help="hash: overwrite an existing record file")
    p.add_argument("-v", "--verbose", action="store_true", help="say the verdict on standard error")
    p.set_defaults(run=_cmd_password)

    p = _sub(subs, "inspect", "tell what a blob is: hybrid layout, post-quantum key, password record",
             "tesmar inspect --json report.pdf.enc")
    p.add_argument("file", help="file, or -")
    p.add_argument("--json", action="store_true", help="one line of JSON")
    p.set_defaults(run=_cmd_inspect)

    p = _sub(subs, "info", "versions of tesmar, OpenSSL and the liboqs loaded (or why none was)", "tesmar info")
    p.add_argument("--json", action="store_true", help="one line of JSON")
    p.set_defaults(run=_cmd_info)
    return parser


def _say(message):
    print(f"{PROG}: {message}", file=sys.stderr)


def _os_message(e):
    where = f"{e.filename}: " if e.filename else ""
    return f"{where}{e.strerror or e}"


def main(argv: "list[str] | None" = None) -> "int":
    """Runs the command line with argv (default sys.argv[1:]); returns the exit status."""
    try:
        args = _build_parser().parse_args(argv)
        args.run(args)
        return 0
    except _UsageError as e:
        _say(str(e))
        return 2
    except _CheckFailed:
        return 1
    except InvalidInputError as e:
        _say(str(e))
        return 2
    except DecryptionError as e:
        _say(str(e))
        return 1
    except TesmarError as e:
        _say(str(e))
        return 1
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError) as e:
        _say(_os_message(e))
        return 2
    except BrokenPipeError:
        # The reader went away (`| head`): nothing more to say to it.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1
    except OSError as e:
        _say(_os_message(e))
        return 1
    except (ValueError, KeyError) as e:
        # The package's refusals of values (an unknown algorithm, a key of the wrong shape).
        _say(str(e).strip("'\""))
        return 2
    except KeyboardInterrupt:
        _say("interrupted")
        return 130


__all__ = ["main"]
