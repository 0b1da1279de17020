"""Enumerations of the post-quantum family.

Members are integers (IntEnum), so a member and its plain integer are interchangeable wherever the
family takes a generation, strength or signature algorithm.
"""
from enum import IntEnum


class QuantumGeneration(IntEnum):
    """Requested encryption scheme generation (the scheme byte of a key records what was built)."""

    GEN1 = 1
    GEN2 = 2
    GEN3 = 3
    GEN4 = 4
    GEN5 = 5
    GEN6 = 6
    GEN7 = 7
    GEN8 = 8


class QuantumStrength(IntEnum):
    """Parameter-set level of the post-quantum mechanisms."""

    STANDARD = 0
    MEDIUM = 1
    HIGHEST = 2


class SignatureAlgorithm(IntEnum):
    """Post-quantum signature scheme: ML-DSA (FIPS 204) or SLH-DSA (FIPS 205, SHA2 fast sets)."""

    ML_DSA = 1
    SLH_DSA = 2
