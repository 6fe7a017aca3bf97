"""The tracer, run inside gdb (it alone imports gdb): trace.py is its entry
and documents the trace it writes."""
