"""The subcommands of the command line, one module each.

Each module has `NAME`, `add_parser(subparsers)`, which adds its parser and
returns it, and `run(args, out, err)`, which runs it and returns the exit
status; `RAW_OUTPUT = True` marks one whose standard output is written as it is
(documents, or text it escapes itself) rather than through the escaping of
control characters. `shared` holds what they share.
"""
