"""The one kind of failure the report tools show as a single line: bad input or an output that
could not be written. Anything else is a fault in the tools and keeps its traceback."""


class InputError(Exception):
    """A report, state file or output path that the tools can't use; the text names it."""


# Exit statuses of the command.
EXIT_OK = 0
EXIT_INPUT = 1       # missing, truncated or invalid input, or an output that could not be written
EXIT_USAGE = 2       # bad command line (argparse's own status)
EXIT_FAILED = 3      # watch: the scan ended in the failed phase
EXIT_STOPPED = 4     # watch: the scan was stopped
EXIT_INTERRUPTED = 130
