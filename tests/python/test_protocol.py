"""What artifact_bytes and the package's input-file reader answer for each kind
of special file (the README's table): never a wait on a pipe or an endless
read, always one error naming the file."""

import contextlib
import json
import os
import pathlib
import socket

import pytest

from velkor_compile import CompileError
from velkor_compile.input_files import read_input_file


@pytest.mark.parametrize(
    "kind, reason",
    [
        ("directory", "Is a directory (os error 21)"),
        ("fifo with a writer", "not a regular file"),
        ("/dev/zero", "not a regular file"),
        ("link to /dev/zero", "not a regular file"),
        ("socket", "No such device or address (os error 6)"),
    ],
)
def test_special_files_are_refused(compiler, tmp_path, kind, reason):
    path = tmp_path / kind.replace(" ", "_").replace("/", "_")
    with socket.socket(socket.AF_UNIX) as listener, contextlib.ExitStack() as undo:
        if kind == "directory":
            path.mkdir()
        elif kind == "fifo with a writer":
            os.mkfifo(path)
            undo.callback(os.close, os.open(path, os.O_RDWR))  # a writer that does not wait for a reader
        elif kind == "socket":
            listener.bind(str(path))
            listener.listen()
        elif kind == "link to /dev/zero":
            path.symlink_to("/dev/zero")
        else:
            path = pathlib.Path(kind)
        expected = f"reading {path}: {reason}"
        answer = compiler.command(json.dumps({"cmd": "artifact_bytes", "path": str(path)}))
        assert json.loads(answer) == {"ok": False, "error": expected}
        with pytest.raises(CompileError) as raised:
            read_input_file(str(path))
        assert str(raised.value) == f"io: {expected}"
