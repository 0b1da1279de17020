"""RSA-4096 key pairs as PEM text, RSA-OAEP encryption of data of any size, and PSS signatures.

Keys travel as PEM text and are parsed again on every call. Data of up to MAX_OAEP_PLAINTEXT
bytes is sent as one OAEP block (MGF1-SHA-256, SHA-256, empty label: see _OAEP); longer data goes
into the hybrid envelope of tesmar.hybrid.core, which is imported when it is first needed (it
imports this module when it loads). Every decryption goes through its decrypt_auto. Signatures are
RSA-PSS over SHA-256 with a 32-byte salt (see _pss()).

Text results are standard Base64; byte results are raw.
"""
from tesmar.errors import DecryptionError, EncryptionError, InvalidInputError, SignatureError

# KEY_SIZE, PUBLIC_EXPONENT and MAX_OAEP_PLAINTEXT come with the native functions, from the engine.
