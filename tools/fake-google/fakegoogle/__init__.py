"""A fake of the Google endpoints that Tidewell talks to, for tests and the demo."""
