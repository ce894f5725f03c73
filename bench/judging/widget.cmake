# Widget benchmarks.
