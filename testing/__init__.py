"""Helpers shared by the tests, the demo and the benchmark."""
