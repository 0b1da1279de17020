"""The hybrid family's plain functions."""
