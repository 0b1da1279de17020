"""The rsa family's plain functions."""
