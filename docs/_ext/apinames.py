"""What the reference must cover: every public module of the installed tesmar and its public names.

Shared by the docs build (which documents these names) and the suite (which checks the result),
and kept free of Sphinx so the suite can import it without the docs' dependencies.
"""
from __future__ import annotations

import importlib
import inspect
import pkgutil
import types

# Values without a docstring of their own: what each one means, said once for the reference.
CONSTANTS = {
    "tesmar.__version__": "The package version, as text.",
    "tesmar.aes.core.GCM_NONCE_SIZE": "Bytes of the random nonce that opens every AES envelope.",
    "tesmar.aes.core.GCM_TAG_SIZE": "Bytes of the GCM tag that closes every AES envelope.",
    "tesmar.rsa.core.KEY_SIZE": "Bits of every RSA key that :func:`tesmar.rsa.core.new_key_pair` makes.",
    "tesmar.rsa.core.PUBLIC_EXPONENT": "Public exponent of the RSA keys made here.",
    "tesmar.rsa.core.MAX_OAEP_PLAINTEXT": (
        "Most bytes one RSA-OAEP block carries under a 4096-bit key (SHA-256); longer data goes "
        "into a hybrid envelope."),
    "tesmar.hybrid.core.HYBR": "The four bytes that open the legacy hybrid layout (read, never written).",
    "tesmar.hybrid.core.RSA_BLOCK": "Bytes of the RSA-OAEP block that wraps the AES key in a written envelope.",
    "tesmar.hybrid.core.NONCE": "Bytes of the AES-GCM nonce in a hybrid envelope.",
    "tesmar.hybrid.core.TAG": "Bytes of the AES-GCM tag in a hybrid envelope.",
    "tesmar.password.core.ALGORITHM": "The ``algorithm`` field of every record written.",
    "tesmar.password.core.VERSION": "The ``version`` field of every record written.",
    "tesmar.password.core.DEFAULT_ITERATIONS": "PBKDF2 iterations of a new record unless told otherwise.",
    "tesmar.password.core.SALT_LENGTH": "Bytes of the random salt in a new record.",
    "tesmar.password.core.OUTPUT_LENGTH": "Bytes of the derived hash in a new record.",
    "tesmar.password.core.HASH_ALGORITHM": "The PBKDF2 hash, as the ``hashAlgorithm`` parameter names it.",
    "tesmar.password.core.UPGRADE_THRESHOLD": (
        "Records with fewer iterations than this are due for rehashing "
        "(:func:`tesmar.password.core.needs_rehash`)."),
    "tesmar.files.core.DEFAULT_CHUNK_SIZE": "Bytes read and sealed per piece by the file functions.",
}


def public_modules() -> list[str]:
    """Every importable module of the package whose dotted name has no private part."""
    import tesmar

    names = ["tesmar"] + [m.name for m in pkgutil.walk_packages(tesmar.__path__, "tesmar.")]
    return [n for n in names if not any(part.startswith("_") for part in n.split("."))]


def public_names(module_name: str) -> list[str]:
    """The module's __all__, else what it defines itself (not what it imports) without a leading _."""
    module = importlib.import_module(module_name)
    if hasattr(module, "__all__"):
        return list(module.__all__)
    names = []
    for name, value in vars(module).items():
        if name.startswith("_") or isinstance(value, types.ModuleType):
            continue
        home = getattr(value, "__module__", None) if callable(value) else None
        if home is not None and home != module_name:
            continue
        names.append(name)
    return names


def kind(module_name: str, name: str) -> str:
    """How the reference presents a name: module, function, exception, class, facade, alias or data."""
    value = getattr(importlib.import_module(module_name), name)
    if isinstance(value, types.ModuleType):
        return "module"
    if isinstance(value, type) or callable(value):
        if value.__module__ != module_name:
            return "alias"
        if isinstance(value, type):
            return "exception" if issubclass(value, BaseException) else "class"
        return "function"
    if type(value).__module__ == module_name:
        return "facade"
    return "data"


def canonical(module_name: str, name: str) -> str:
    """Where an alias is documented in full."""
    value = getattr(importlib.import_module(module_name), name)
    return f"{value.__module__}.{value.__qualname__}"
