"""An independent model of what a compile produces: the canonical text, the
generated files, the digests and the manifest, computed with the standard
library only, so that the tests never take an expected value from the core."""

import decimal
import hashlib
import json
import math

import project_texts as texts

MCUS = [
    "thumbv6m-none-eabi",
    "thumbv7m-none-eabi",
    "thumbv7em-none-eabi",
    "thumbv7em-none-eabihf",
    "thumbv8m.main-none-eabi",
    "thumbv8m.main-none-eabihf",
    "riscv32imac-unknown-none-elf",
]


def float_text(x):
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    digits_tuple = decimal.Decimal(repr(abs(x))).as_tuple()
    digits = "".join(map(str, digits_tuple.digits)).rstrip("0") or "0"
    exponent = digits_tuple.exponent + len(digits_tuple.digits) - 1
    n = len(digits)
    if -5 <= exponent <= 15:
        if exponent >= n - 1:
            body = digits + "0" * (exponent - n + 1) + ".0"
        elif exponent >= 0:
            body = digits[: exponent + 1] + "." + digits[exponent + 1 :]
        else:
            body = "0." + "0" * (-exponent - 1) + digits
    else:
        mantissa = digits[0] + ("." + digits[1:] if n > 1 else "")
        body = mantissa + "e" + ("-" if exponent < 0 else "+") + str(abs(exponent))
    return sign + body


def canonical(value):
    """Canonical JSON text of a value as json.loads gives it."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, list):
        return "[" + ",".join(canonical(v) for v in value) + "]"
    items = sorted(value.items(), key=lambda kv: kv[0].encode("utf-8"))
    return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + canonical(v) for k, v in items) + "}"


def sha(data):
    return hashlib.sha256(data if isinstance(data, bytes) else data.encode("utf-8")).hexdigest()


def target_of(spec):
    target = spec["target"]
    if target["kind"] == "no_std":
        return {"kind": "no_std", "mcu": target["mcu"]}
    return {"kind": target["kind"]}


def derive_crate_name(symbol):
    return "".join(c.lower() if c.isascii() and c.isalnum() else "_" for c in symbol)


def expected_files(spec, crate_name, csv_text=None):
    kind = spec["target"]["kind"]
    level = spec.get("opt_level", "release")
    profile = {"debug": "", "release": texts.PROFILE_RELEASE, "size": texts.PROFILE_SIZE}[level]
    cargo = {"wasm": texts.CARGO_WASM, "binary": texts.CARGO_BINARY, "no_std": texts.CARGO_NO_STD}[kind]
    cargo = cargo.replace("{{crate_name}}", crate_name).replace("{{backtest_dep}}", "0.1.5")
    files = {"Cargo.toml": cargo.replace("{{profile}}", profile), "src/spec.json": canonical(spec["strategy"])}
    if kind == "binary":
        files["src/main.rs"] = texts.MAIN_BINARY
    else:
        files["src/lib.rs"] = texts.LIB_WASM if kind == "wasm" else texts.LIB_NO_STD
        triple = "wasm32-unknown-unknown" if kind == "wasm" else spec["target"]["mcu"]
        files[".cargo/config.toml"] = f'[build]\ntarget = "{triple}"\n'
    data = spec.get("embed_data")
    if data and data["kind"] == "csv":
        files["src/candles.csv"] = csv_text
    if data and data["kind"] == "inline":
        files["src/candles.json"] = canonical(data["candles"])
    return dict(sorted(files.items(), key=lambda kv: kv[0].encode("utf-8")))


def spec_hash(spec):
    hashed = {"strategy": spec["strategy"], "target": target_of(spec), "opt_level": spec.get("opt_level", "release")}
    if spec.get("embed_data") is not None:
        data = spec["embed_data"]
        key = "path" if data["kind"] == "csv" else "candles"
        hashed["embed_data"] = {"kind": data["kind"], key: data[key]}
    if spec.get("crate_name") is not None:
        hashed["crate_name"] = spec["crate_name"]
    return sha(canonical(hashed))


def expected_manifest(spec, csv_text=None):
    crate_name = spec.get("crate_name") or derive_crate_name(spec["strategy"]["symbol"])
    files = expected_files(spec, crate_name, csv_text)
    entries = [{"path": p, "sha256": sha(c), "bytes_len": len(c.encode("utf-8"))} for p, c in files.items()]
    listing = "".join(f"{e['path']}\n{e['sha256']}\n" for e in entries)
    return {
        "compiler_version": "0.2.0",
        "target": target_of(spec),
        "opt_level": spec.get("opt_level", "release"),
        "crate_name": crate_name,
        "spec_hash": spec_hash(spec),
        "backtest_dep": "0.1.5",
        "files": entries,
        "project_hash": sha(listing),
    }


def compact(document):
    return json.dumps(document, ensure_ascii=False, separators=(",", ":"))
