"""The package's version: the one source of it (the build reads it here)."""
__version__ = "0.1.1"
