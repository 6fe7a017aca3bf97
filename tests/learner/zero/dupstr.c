// A file that includes what never ends: its build must be stopped.
#include "/dev/zero"
