#!/bin/sh
# Prepares DIR so that cargo can build generated projects placed below it
# without reaching a crate registry:
#   DIR/vendor               a directory source: one entry per Debian-packaged
#                            crate plus the velkor-backtest stand-in
#   DIR/.cargo/config.toml   replaces crates.io with that source, offline
# Cargo reads .cargo/config.toml from every ancestor of the project directory,
# so projects written to DIR/out/<crate> build with their files unchanged.
# Usage: scripts/offline_cargo_setup.sh DIR
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
stand_in="$here/../tests/fixtures/offline_cargo/velkor-backtest"
registry=/usr/share/cargo/registry

if ! ls -d "$registry"/serde_json-* >/dev/null 2>&1; then
  # serde_json and everything it depends on, as Debian packages.
  apt-get install -y librust-serde-json-dev >&2
fi
if ! ls -d "$registry"/serde_json-* >/dev/null 2>&1; then
  echo "$0: no serde_json crate under $registry" >&2
  exit 1
fi

mkdir -p "$1"
dir=$(cd "$1" && pwd)
vendor="$dir/vendor"
rm -rf "$vendor"
mkdir -p "$vendor" "$dir/.cargo"
for crate in "$registry"/*/; do
  crate=${crate%/}
  ln -s "$crate" "$vendor/$(basename "$crate")"
done
ln -s "$(cd "$stand_in" && pwd)" "$vendor/velkor-backtest-0.1.5"

cat > "$dir/.cargo/config.toml" <<CONFIG
[source.crates-io]
replace-with = "local"

[source.local]
directory = "$vendor"

[net]
offline = true
CONFIG

echo "$dir/.cargo/config.toml"
