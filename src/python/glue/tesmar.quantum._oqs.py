"""Adapter to the liboqs post-quantum backend, loaded on first use.

The only module that touches liboqs. mlkem_alg, frodo_alg, cmce_alg and sig_algorithm map a
strength (0, 1, 2) to the mechanism names of each algorithm family (KeyError for other strengths).
The six liboqs operations take and return byte strings and fail only with QuantumOperationError:
the operation's prefix, the mechanism name, then the reason, with the lower error as cause.
sig_verify answers every failure with False.

liboqs is loaded through its C interface the first time an operation needs it; until then the
rest of tesmar works without it, and a failed attempt is retried by the next call.
"""
from tesmar.errors import QuantumOperationError
