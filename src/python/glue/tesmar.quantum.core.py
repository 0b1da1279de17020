"""The quantum family's plain functions."""
