"""The package version."""
__version__ = "1.0.10"
