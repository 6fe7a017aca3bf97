"""Running a learner's program: its build, its sandbox and limits, its
lesson, valgrind's reports, and the processes of one trace."""
