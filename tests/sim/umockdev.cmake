# Tests of the umockdev adapter (owned by its engineer).
