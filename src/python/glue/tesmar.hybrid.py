"""Coroutine functions of the hybrid family; each runs its core function on a worker thread."""
import asyncio

from tesmar.hybrid import core

__all__ = ["core"]
