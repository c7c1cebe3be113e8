"""Helpers for driving kelvoran.exe under Wine: prefixes, service control and a test HTTP server."""
