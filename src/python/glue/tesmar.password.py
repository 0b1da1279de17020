"""Coroutine functions of the password family; each runs its core function on a worker thread."""
import asyncio

from tesmar.password import core

__all__ = ["core"]
