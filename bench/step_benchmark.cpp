// Benchmarks of the time step are added here.
