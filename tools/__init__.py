"""The learner's tools, by what each part knows; imports run one way:

    commands/  ./show, ./check and the tour's steps: arguments, the
               terminal and its pager, reports, exit statuses
       |  \\
       |   drawing/  a trace drawn as text or as a page: pure functions
       v             of the trace, no debugger, no processes
    running/   running a learner's program: the recipe that builds it, the
       ^       sandbox and its limits, the lessons as data, valgrind's own
       |       reports, and the one trace (valgrind, vgdb, gdb) of a run
    tracer/    inside gdb: steps the program and records what memcheck and
               gdb know at each stop; the only code that imports gdb

The entry scripts put this folder's parent on PYTHONPATH and run
`python3 -P -m tools.commands.NAME`; gdb finds the tracer the same way.
"""

import os

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))  # the project's folder
