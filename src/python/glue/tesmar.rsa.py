"""Coroutine functions of the rsa family; each runs its core function on a worker thread."""
import asyncio

from tesmar.rsa import core

__all__ = ["core"]
