"""The drawings of a trace (text, page) and what they share (marks): pure
functions of the trace."""
