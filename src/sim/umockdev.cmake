# The umockdev adapter's targets (owned by its engineer).
