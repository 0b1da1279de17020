"""PBKDF2 password-hash records as coroutine functions; each runs its core function on a worker thread."""
import asyncio

from tesmar.password import core


async def hash(password: "str", iterations: "int" = core.DEFAULT_ITERATIONS) -> "str":
    """Hash a password into a new record (one line of canonical JSON)."""
    return await asyncio.to_thread(core.hash_password, password, iterations)


async def verify(password: "str", hash_json: "str") -> "bool":
    """Check a password against a record; False for a wrong password or an unreadable record."""
    return await asyncio.to_thread(core.verify_password, password, hash_json)


async def needs_rehash(hash_json: "str") -> "bool":
    """Whether a record is unreadable or made with fewer iterations than the upgrade threshold."""
    return await asyncio.to_thread(core.needs_rehash, hash_json)


__all__ = ["hash", "verify", "needs_rehash", "core"]
