"""AES-256-GCM envelopes under a key text.

An envelope is nonce (12 bytes) || ciphertext || tag (16 bytes), with no header; the text
functions carry it as standard Base64. The key text may be a passphrase or the Base64 text of a
raw 32-byte key (see tesmar._internal.keys).
"""
import base64
import os

from tesmar.errors import DecryptionError, EncryptionError, InvalidInputError
from tesmar._internal.keys import convert_key

# GCM_NONCE_SIZE and GCM_TAG_SIZE come with the native functions, from the engine.
