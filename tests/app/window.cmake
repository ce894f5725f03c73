# Tests of the station window.
