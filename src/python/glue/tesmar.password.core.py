"""The password family's plain functions."""
