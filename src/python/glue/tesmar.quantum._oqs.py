"""Adapter to the liboqs post-quantum backend, loaded on first use."""
