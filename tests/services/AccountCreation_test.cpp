// Placeholder while the tests are being written.
