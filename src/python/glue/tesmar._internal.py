"""Internal helpers shared by the families (not part of the public API)."""
