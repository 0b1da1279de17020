"""The exceptions of tesmar. Catching TesmarError catches every error the package raises."""


class TesmarError(Exception):
    """Root of every error raised by tesmar."""


class InvalidInputError(TesmarError):
    """The caller gave empty or malformed input (including unusable key text)."""


class EncryptionError(TesmarError):
    """An encryption primitive failed."""


class DecryptionError(TesmarError):
    """Decryption failed: bad envelope, wrong key, tampered data, or undecodable text."""


class SignatureError(TesmarError):
    """Signing failed."""


class QuantumOperationError(TesmarError):
    """The post-quantum backend is missing or one of its operations failed."""
