"""PBKDF2 password-hash records, as coroutine functions.

Each runs its function of tesmar.password.core on a worker thread (asyncio.to_thread) and returns
or raises exactly what that function does.
"""
import asyncio

from tesmar.password import core


async def hash(password: "str", iterations: "int" = core.DEFAULT_ITERATIONS) -> "str":
    """Hash a password into a new record; returns one line of canonical JSON.

    Runs core.hash_password. Raises InvalidInputError for an empty password, ValueError for an
    iteration count outside 1..2**32-1.
    """
    return await asyncio.to_thread(core.hash_password, password, iterations)


async def verify(password: "str", hash_json: "str") -> "bool":
    """Check a password against a record; returns True on a match.

    Runs core.verify_password. False for a wrong password or an unreadable record; raises only
    for arguments that are not text (TypeError, AttributeError).
    """
    return await asyncio.to_thread(core.verify_password, password, hash_json)


async def needs_rehash(hash_json: "str") -> "bool":
    """Whether a record should be replaced by a new hash; returns True if so.

    Runs core.needs_rehash: True for an unreadable record or one made with fewer iterations than
    core.UPGRADE_THRESHOLD. Raises only TypeError, for a record that is not text.
    """
    return await asyncio.to_thread(core.needs_rehash, hash_json)


__all__ = ["hash", "verify", "needs_rehash", "core"]
