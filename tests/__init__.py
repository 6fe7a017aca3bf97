"""The tests of the collection and its tools (run by CTest)."""
