// Benchmarks of the output path are added here.
