"""The commands: ./show, ./check and the tour's steps."""
