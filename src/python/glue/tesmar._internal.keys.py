"""Key text to AES-256 key, and the strict Base64 rule for caller-supplied Base64 text.

A key text is either a passphrase or the Base64 text of a raw key: 32 or 64 decoded bytes give the
first 32 bytes as the key, other valid Base64 the SHA-256 of the decoded bytes, and anything else
the SHA-256 of the text's UTF-8 encoding.
"""
import base64
import binascii
import hashlib

# AES_KEY_SIZE comes with the native functions, from the engine.
