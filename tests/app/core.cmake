# Tests of the station core.
