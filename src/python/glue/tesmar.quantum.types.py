"""Enumerations of the post-quantum family."""
