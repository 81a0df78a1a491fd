// Placeholder while the service is being written.
