"""Coroutine functions of the quantum family; each runs its core function on a worker thread."""
import asyncio

from tesmar.quantum import core

__all__ = ["core"]
