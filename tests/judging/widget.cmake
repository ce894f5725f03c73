# Widget tests.
