"""Writes the seed corpora and the dictionary of the fuzz targets.

usage: make_seeds.py OUT_DIR [CONFORMANCE_JSONL]

OUT_DIR/<target>/ receives one file per seed; OUT_DIR/json.dict the tokens
libFuzzer splices into inputs. Seeds come from the bundled example strategies,
the JSON parsing conformance cases when their file is given and exists,
command documents built from the examples, and the inputs under
fuzz/regressions/<target>/ that once made a target fail. Dispatch seeds hold no "/" and no
"..", since the dispatch target skips such inputs (see dispatch_fuzz.cc).
"""

import hashlib
import json
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
TARGETS = ["json_reader_fuzz", "canonical_fuzz", "strategy_fuzz", "dispatch_fuzz"]


def without_slashes(value):
    if isinstance(value, str):
        return value.replace("/", "-").replace("..", "-")
    if isinstance(value, list):
        return [without_slashes(item) for item in value]
    if isinstance(value, dict):
        return {without_slashes(key): without_slashes(item) for key, item in value.items()}
    return value


def keys_and_strings(value, found):
    if isinstance(value, str):
        found.add(value)
    elif isinstance(value, list):
        for item in value:
            keys_and_strings(item, found)
    elif isinstance(value, dict):
        for key, item in value.items():
            found.add(key)
            keys_and_strings(item, found)


def compile_requests(strategy):
    dense = lambda doc: json.dumps(doc, separators=(",", ":"), ensure_ascii=False)
    targets = [{"kind": "wasm"}, {"kind": "binary"}, {"kind": "no_std", "mcu": "thumbv7em-none-eabihf"}]
    data = [None, {"kind": "csv", "path": "c.csv"}, {"kind": "inline", "candles": [{"t": 1, "c": 1.5}, [2, 3.25]]}]
    for index, target in enumerate(targets):
        spec = {"strategy": strategy, "target": target, "opt_level": ["debug", "release", "size"][index]}
        if data[index]:
            spec["embed_data"] = data[index]
        yield dense({"cmd": "compile", "spec": spec, "dry_run": True})
        yield dense({"cmd": "compile", "spec": spec, "dry_run": False, "out_dir": "o"})
    yield dense({"cmd": "compile", "spec": {"strategy": strategy, "target": {"kind": "binary"}, "crate_name": "c"}})


def main():
    out = pathlib.Path(sys.argv[1])
    conformance = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else None
    seeds = {target: [] for target in TARGETS}
    tokens = {"{", "}", "[", "]", ":", ",", '"', "\\u0000", "\\ud800", "\\udc00", "\\\"", "true", "false",
              "null", "-0", "1e308", "1e-400", "18446744073709551616", "-9223372036854775809", "0.1"}

    strategies = []
    for path in sorted((ROOT / "examples").glob("*.json")):
        text = path.read_bytes()
        strategies.append(json.loads(text))
        for target in ("json_reader_fuzz", "canonical_fuzz", "strategy_fuzz"):
            seeds[target].append(text)

    if conformance and conformance.is_file():
        for line in conformance.read_text(encoding="utf-8").split("\n"):
            if not line.strip():
                continue
            case = json.loads(line)
            raw = case["input"].encode("utf-8", "surrogatepass")
            seeds["json_reader_fuzz"].append(raw)
            seeds["canonical_fuzz"].append(raw)
    else:
        print(f"make_seeds: no conformance cases at {conformance}; seeding from the examples only", file=sys.stderr)

    fixed = ['{"cmd":"version"}', '{"cmd":"targets"}', '{"cmd":"reset"}', '["version"]', '["reset"]',
             '{"cmd":"artifact_bytes","path":"a"}', '["artifact_bytes"]', '{"cmd":"artifact_bytes","path":"c.csv"}',
             '{"cmd":"artifact_bytes","path":"missing\\u0000"}', '{"cmd":"nope"}', '{"cmd":7}', "not json",
             '{"cmd":"lint","text":"{\\"symbol\\":1,,}"}', '{"cmd":"lint","text":7}']
    seeds["dispatch_fuzz"] += [text.encode() for text in fixed]
    for strategy in strategies:
        clean = without_slashes(strategy)
        keys_and_strings(clean, tokens)
        seeds["dispatch_fuzz"] += [text.encode() for text in compile_requests(clean)]
        seeds["dispatch_fuzz"].append(json.dumps({"cmd": "lint", "text": json.dumps(clean, indent=1)}).encode())
    tokens |= {"cmd", "compile", "version", "targets", "reset", "artifact_bytes", "path", "spec", "dry_run",
               "out_dir", "strategy", "target", "kind", "wasm", "binary", "no_std", "mcu", "opt_level", "debug",
               "release", "size", "embed_data", "csv", "inline", "candles", "crate_name", "c.csv", "a", "lint", "text"}

    # Inputs that once crashed a target stay among its seeds, so that every
    # run replays them first.
    for target in TARGETS:
        for path in sorted((ROOT / "fuzz" / "regressions" / target).glob("*")):
            seeds[target].append(path.read_bytes())

    for target, texts in seeds.items():
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        for text in texts:
            (folder / hashlib.sha1(text).hexdigest()).write_bytes(text)

    def dict_entry(token):
        # libFuzzer's dictionary syntax: a quoted string with \xHH escapes.
        raw = token.encode("utf-8", "surrogatepass")
        return '"' + "".join(chr(b) if 0x20 < b < 0x7F and b not in b'"\\' else f"\\x{b:02x}" for b in raw) + '"'

    lines = [dict_entry(token) for token in sorted(tokens) if 0 < len(token) <= 64]
    (out / "json.dict").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
