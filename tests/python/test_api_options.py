"""A reading fault in an option the caller passed names the option, not a position in request text the API
wrote; a fault in a file's text is placed in that file."""

import pathlib

import pytest

import velkor_compile
from velkor_compile import CompileError

MA_CROSS = pathlib.Path(__file__).resolve().parents[2] / "examples" / "ma_cross.json"
HUGE = 10**400  # beyond the double range: the compiler's reader refuses it


@pytest.mark.parametrize(
    "strategy, kwargs, message",
    [
        (MA_CROSS, {"target": "arm"}, "target: unknown variant `arm`, expected one of `wasm`, `binary`, `no_std`"),
        (MA_CROSS, {"target": "no_std", "mcu": 5}, "mcu: invalid type: integer `5`, expected a string"),
        (MA_CROSS, {"opt_level": "fastest"}, "opt_level: unknown variant `fastest`, expected one of `debug`, `release`, `size`"),
        (MA_CROSS, {"crate_name": 5}, "crate_name: invalid type: integer `5`, expected a string"),
        (MA_CROSS, {"candles": [[1, HUGE]]}, "candles: number out of range"),
        (MA_CROSS, {"candles": "candles.json"}, "parse: candles.json: this number is too large for a JSON number at line 2 column 7"),
        ("in memory", {}, "strategy: number out of range"),
        # The caller's own strategy file: the position in that file, on its first line too.
        ("huge.json", {}, "parse: huge.json: this number is too large for a JSON number at line 2 column 11"),
        ("one_line.json", {}, "parse: one_line.json: this number is too large for a JSON number at line 1 column 26"),
        ("one_line.json", {"target": "wasm"}, "parse: one_line.json: this number is too large for a JSON number at line 1 column 26"),
    ],
)
def test_option_faults_name_the_option(tmp_path, monkeypatch, strategy, kwargs, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "candles.json").write_text("[[1, 2],\n [1e400]]\n")
    (tmp_path / "huge.json").write_text('{"symbol": "X",\n "n": 1e400}')
    (tmp_path / "one_line.json").write_text('{"symbol": "X", "n": 1e400}')
    if strategy == "in memory":
        strategy = {"symbol": "X", "timeframe": "1h", "n": HUGE}
    calls = [lambda: velkor_compile.compile(strategy, dry_run=True, **kwargs)]
    if not kwargs:  # validate sends the same strategy
        calls.append(lambda: velkor_compile.validate(strategy))
    for call in calls:
        with pytest.raises(CompileError) as raised:
            call()
        expected = message if message.startswith("parse: ") else f"bad compile request: {message}"
        assert str(raised.value) == expected
