"""`lint` and `velkor-compile check`: problems as values, as compiler-style lines,
annotations and JSON, and the exit status each severity gives."""

import argparse
import dataclasses
import io
import json
import pathlib

import pytest

import velkor_compile
from velkor_compile import Problem
from velkor_compile.commands.check import run as run_check
from velkor_compile.cli import main

ROOT = pathlib.Path(__file__).resolve().parents[2]
MISTAKES = ROOT / "examples" / "mistakes" / "rsi_mistakes.json"
WARNINGS_ONLY = '{"symbol": "X", "timeframe": "1h", "indicators": {},\n  "entry": {"gt": ["rsi", 1]}, ' \
    '"exit": {"in_position": true}, "sizing": {"type": "fixed_qty", "qty": 1}}'


def test_lint_takes_a_path_a_text_or_a_value():
    problems = velkor_compile.lint(MISTAKES)
    assert problems[1] == Problem("error", "/sizing/fraction", 9, 53, 'invalid type: string "0.5", expected f64',
                                  code="VK003", plain='expected a number, found the text "0.5"')
    assert problems[2].suggestion == "maker_bps" and problems[0].suggestion == "rsi"
    assert velkor_compile.lint(str(MISTAKES)) == problems
    assert velkor_compile.lint(MISTAKES.read_text()) == problems
    assert [p.message for p in velkor_compile.lint(json.loads(MISTAKES.read_text()))] == [p.message for p in problems]
    assert velkor_compile.lint('{"symbol": 1,}') == [
        Problem("error", "", 1, 13, "trailing comma", code="VK001",
                plain="a comma before a closing bracket: JSON allows none there")]
    with pytest.raises(dataclasses.FrozenInstanceError):
        problems[0].line = 2  # type: ignore[misc]
    with pytest.raises(velkor_compile.CompileError, match="No such file"):
        velkor_compile.lint("no/such/file.json")


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize(
    "content, options, status, expected",
    [
        (WARNINGS_ONLY, [], 0,
         'F:2:20: warning[VK203]: no indicator in "indicators" is named `rsi` [/entry/gt/0]\n'
         '    "entry": {"gt": ["rsi", 1]}, "exit": {"in_position": true}, "sizing": {"type": "fixed_qty", "qty": 1}}\n'
         "                     ^\n"
         "0 errors, 1 warning in 1 file\n"),
        (WARNINGS_ONLY, ["--strict"], 1, None),
        ('{"symbol":\t"X", "Timeframe": 1}', ["--format", "github"], 1,
         "::warning file=F,line=1,col=17,title=VK201::this object takes no member `Timeframe`; it is ignored [/Timeframe]\n"
         "::error file=F,line=1,col=31,title=VK002::the required member `timeframe` is missing\n"),
        ('{"symbol":\t"X", "Timeframe": 1}', [], 1,
         "F:1:17: warning[VK201]: this object takes no member `Timeframe`; it is ignored [/Timeframe]\n"
         '  {"symbol":\t"X", "Timeframe": 1}\n'
         "            \t     ^\n"
         "  help: did you mean `timeframe`?\n"),
        ("[1,", ["--format", "json"], 1,
         '[{"file": "F", "severity": "error", "code": "VK001", "path": "", "line": 1, "column": 3, '
         '"message": "EOF while parsing a value", "plain": "the text ends where a value should stand"}]\n'),
    ],
)
def test_check_output_and_status(tmp_path, monkeypatch, capsys, content, options, status, expected):
    monkeypatch.chdir(tmp_path)
    pathlib.Path("F").write_text(content)
    assert main(["check", *options, "F"]) == status
    out = capsys.readouterr().out
    if expected is not None:
        assert out.startswith(expected)


@pytest.mark.parametrize("no_color, coloured", [("", True), ("1", False)])
def test_colour_only_on_a_terminal_without_no_color(monkeypatch, no_color, coloured):
    monkeypatch.setenv("NO_COLOR", no_color)
    for out, tty in ((Terminal(), True), (io.StringIO(), False)):
        args = argparse.Namespace(files=[str(MISTAKES)], format="text", strict=False, quiet=False, no_config=True)
        assert run_check(args, out, io.StringIO()) == 1
        assert ("\033[1;31merror[VK003]:" in out.getvalue()) == (coloured and tty)
        assert out.getvalue().endswith("2 errors, 3 warnings in 1 file\n")


def test_unreadable_file_is_an_error_and_the_others_are_still_checked(capsys):
    assert main(["check", "no/such.json", str(ROOT / "examples" / "ma_cross.json")]) == 1
    out = capsys.readouterr().out
    assert out.startswith("no/such.json:1:1: error: reading no/such.json: No such file or directory")
    assert out.endswith("1 error, 0 warnings in 2 files\n")


def test_lint_lists_at_most_max_problems_and_counts_the_rest():
    text = '{"a": 1, "b": 2, "c": 3}'  # three unknown fields, six missing ones
    capped = velkor_compile.lint(text, max_problems=2)
    assert capped == velkor_compile.lint(text)[:2]
    assert (capped.omitted_errors, capped.omitted_warnings, capped.omitted) == (6, 1, 7)
    assert velkor_compile.lint(text).omitted == 0
    with pytest.raises(ValueError, match="non-negative"):
        velkor_compile.lint(text, max_problems=-1)


ESCAPED_KEY = '{"symbol": "X", "\\u001b]52;c;eA==\\u0007\\u009b": 1}'
# A one-line file with 4,000 unknown fields, 80 kB: every problem quoted the whole line.
WIDE = "{" + ", ".join(f'"field_{i:05}": 1' for i in range(4000)) + "}"


@pytest.mark.parametrize(
    "content, options, status, expected",
    [
        # Only "\n" ends a line, as the core counts lines: U+2028 and CR do not.
        ('{"symbol": "\u2028", "Timeframe": 1,\r "x": 1}', ["--max-problems", "1"], 1,
         "F:1:17: warning[VK201]: this object takes no member `Timeframe`; it is ignored [/Timeframe]\n"
         '  {"symbol": "\u2028", "Timeframe": 1,\\u000d "x": 1}\n'
         "                  ^\n"
         "  help: did you mean `timeframe`?\n"
         "F: and 6 more problems (5 errors, 1 warning) not shown (--max-problems)\n"
         "5 errors, 2 warnings in 1 file\n"),
        (ESCAPED_KEY, ["--max-problems", "1"], 1,
         "F:1:17: warning[VK201]: this object takes no member `\\u001b]52;c;eA==\\u0007\\u009b`; it is ignored [/\\u001b]52;c;eA==\\u0007\\u009b]\n"
         '  {"symbol": "X", "\\u001b]52;c;eA==\\u0007\\u009b": 1}\n'
         "                  ^\n"),
        (ESCAPED_KEY, ["--format", "github", "--max-problems", "1"], 1,
         "::warning file=F,line=1,col=17,title=VK201::this object takes no member `\\u001b]52;c;eA==\\u0007\\u009b`; it is ignored "
         "[/\\u001b]52;c;eA==\\u0007\\u009b]\n"
         "::notice file=F::and 5 more problems (5 errors, 0 warnings) not shown (--max-problems)\n"),
        ('{"a": 1}', ["--format", "json", "--max-problems", "0"], 1,
         '[{"file": "F", "omitted": {"errors": 6, "warnings": 1}}]\n'),
        (WIDE, ["--max-problems", "4000"], 1, None),
    ],
)
def test_check_quotes_lines_safely_and_caps_problems(tmp_path, monkeypatch, capsys, content, options, status, expected):
    monkeypatch.chdir(tmp_path)
    pathlib.Path("F").write_text(content, newline="")
    assert main(["check", *options, "F"]) == status
    out = capsys.readouterr().out
    if expected is not None:
        assert out.startswith(expected)
    else:  # a window of the long line around each column, the caret under the key's quote
        assert len(out) < 4000 * 450  # was 4000 copies of the 80 kB line
        lines = out.splitlines()
        for i in (0, 1666, 3999):
            head, shown, caret = lines[3 * i: 3 * i + 3]
            assert head.startswith("F:1:") and f"[/field_{i:05}]" in head
            assert shown[caret.index("^"):].startswith(f'"field_{i:05}"')
            assert len(shown) <= 2 + 160 + 6
        assert lines[-1] == "6 errors, 4000 warnings in 1 file"
    assert not any(0x80 <= ord(ch) <= 0x9f or (ord(ch) < 0x20 and ch not in "\t\n") for ch in out)


WARNED = json.dumps({**json.loads((ROOT / "examples" / "ma_cross.json").read_text()), "warm_up": 50}, indent=1)


@pytest.mark.parametrize(
    "argv, table, status, err, out",
    [
        # validate and compile print the warnings as check does, unless -q; --strict refuses them.
        (["validate", "w.json"], "", 0, "w.json:42:2: warning[VK201]: this object takes no member `warm_up`", "w.json: valid\n"),
        (["validate", "-q", "w.json"], "", 0, "", ""),
        (["validate", "--strict", "w.json"], "", 1, "velkor-compile: w.json: 1 warning, refused by --strict\n", ""),
        (["compile", "--dry-run", "w.json"], "", 0, "help: did you mean `warmup`?\n", None),
        (["compile", "--dry-run", "-q", "--strict", "w.json"], "", 1, "velkor-compile: w.json: 1 warning, refused", ""),
        (["compile", "--dry-run", "--csv", "d.csv", "sub/ok.json"], "", 0,
         "sub/ok.json:1:1: warning[VK303]: without a header, each line of `d.csv` holds time", None),
        # The configuration's select and ignore lists choose the warnings, for every command.
        (["validate", "--strict", "w.json"], 'ignore = ["VK2"]', 0, "", "w.json: valid\n"),
        (["compile", "--dry-run", "--strict", "w.json"], 'select = ["VK1"]', 0, "", None),
        (["check", "--strict", "w.json"], 'select = ["VK2"]\nignore = ["VK201"]', 0, "", "0 errors, 0 warnings in 1 file\n"),
        (["check", "--strict", "--no-config", "w.json"], 'ignore = ["VK2"]', 1, "", None),
        # A folder: every *.json beneath it but in hidden folders; -q lists only what fails.
        (["check", "."], "", 0, "", None),
        (["check", "-q", "."], "", 0, "", ""),
        (["check", "-q", "--strict", "."], "", 1, "", None),
    ],
)
def test_warnings_in_every_command(tmp_path, monkeypatch, capsys, argv, table, status, err, out):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "pyproject.toml").write_text(f"[tool.velkor-compile]\n{table}\n")
    (tmp_path / "w.json").write_text(WARNED)
    (tmp_path / "d.csv").write_text("1,2\n")
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "ok.json").write_text((ROOT / "examples" / "ma_cross.json").read_text())
    (tmp_path / ".hidden").mkdir()
    (tmp_path / ".hidden" / "bad.json").write_text("[1,")
    assert main(argv) == status
    captured = capsys.readouterr()
    assert err in captured.err and (err or captured.err == ""), captured.err
    assert out is None or captured.out == out
    if argv == ["check", "."]:
        assert captured.out.endswith("0 errors, 1 warning in 2 files\n") and "ok.json" not in captured.out
