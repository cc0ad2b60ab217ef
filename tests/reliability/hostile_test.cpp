// Placeholder until the catalogue is in.
