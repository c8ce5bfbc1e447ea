"""Output files that appear whole or not at all: the text goes to a temporary file beside the
target, which replaces the target only once everything was written and flushed to disk."""
import contextlib
import os
import sys
import tempfile

from tool_errors import InputError


@contextlib.contextmanager
def output_text(path, newline=None):
    """A text stream (UTF-8) for `path`, or standard output for None or "-". On an exception the
    temporary file is removed and the target is left as it was."""
    if path in (None, "-"):
        stream = sys.stdout
        if newline is not None:
            stream = open(sys.stdout.fileno(), "w", encoding="utf-8", newline=newline, closefd=False)
        try:
            yield stream
        finally:
            stream.flush()
        return
    folder = os.path.dirname(os.path.abspath(path))
    try:
        handle, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".",
                                             suffix=".tmp")
    except OSError as error:
        raise InputError("%s: can't write the output: %s" % (path, error.strerror or error)) from None
    try:
        with open(handle, "w", encoding="utf-8", newline=newline) as stream:
            yield stream
            stream.flush()
            os.fsync(stream.fileno())
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, path)
    except OSError as error:
        _remove(temporary)
        raise InputError("%s: can't write the output: %s" % (path, error.strerror or error)) from None
    except BaseException:
        _remove(temporary)
        raise


def _remove(path):
    try:
        os.unlink(path)
    except OSError:
        pass
