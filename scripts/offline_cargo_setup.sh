#!/bin/sh
# Prepares DIR so that cargo builds the projects generated below it, for every
# target, without reaching a crate registry:
#   DIR/vendor               a directory source: one entry per Debian-packaged
#                            crate (serde_json, wasm-bindgen, ...) plus the
#                            velkor-backtest stand-in
#   DIR/sysroot/TRIPLE       core and compiler_builtins built for each
#                            bare-metal triple of the MCU allowlist (no_std)
#   DIR/bin                  links to Debian's cargo, rustc and rustdoc, the
#                            toolchain the Debian crates and the sysroots fit
#   DIR/.cargo/config.toml   replaces crates.io with DIR/vendor, offline, and
#                            gives each prepared triple its sysroot
#   DIR/env.sh               `. DIR/env.sh` puts DIR/bin first on PATH
# Cargo reads .cargo/config.toml from every ancestor of the project directory,
# so projects written to DIR/out/<crate> build with their files unchanged.
# Binary projects build with any cargo; wasm and no_std ones need the shell
# to have sourced DIR/env.sh (another toolchain refuses Debian's wasm32
# library and these sysroots as built by a different compiler).
#
# Usage: scripts/offline_cargo_setup.sh [--mcu TRIPLE]... [--with-runners] DIR
#   --mcu TRIPLE     prepare this MCU only (repeatable; default: every
#                    allowlisted MCU, about 20 s each the first time;
#                    `--mcu none`: none, for binary and wasm projects only)
#   --with-runners   also install what runs the artifacts here: Node.js for
#                    the wasm module, and for the no_std archives qemu-user
#                    with the ARM Linux cross compiler (Thumb MCUs) or the
#                    bare RISC-V one (riscv32 MCUs)
#
# It reports on standard error what it prepared and what it could not, with
# the reason, and prints the config file's path on standard output; it exits
# non-zero only when not even binary projects can be built. Running it again is
# safe: it rebuilds nothing that is up to date, and it refuses to touch a
# vendor/, sysroot/, bin/, .cargo/config.toml or env.sh in DIR that it did not
# make.
set -eu

usage() {
  echo "usage: $0 [--mcu TRIPLE]... [--with-runners] DIR" >&2
  exit 2
}

mcus=""
runners=no
dir_arg=""
while [ $# -gt 0 ]; do
  case $1 in
    --mcu) [ $# -ge 2 ] || usage; mcus="$mcus $2"; shift 2 ;;
    --with-runners) runners=yes; shift ;;
    -*) usage ;;
    *) [ -z "$dir_arg" ] || usage; dir_arg=$1; shift ;;
  esac
done
[ -n "$dir_arg" ] || usage

here=$(cd "$(dirname "$0")" && pwd)
stand_in="$here/../tests/fixtures/offline_cargo/velkor-backtest"
registry=/usr/share/cargo/registry
rust_src=/usr/lib/rustlib/src/rust/library
# The header that marks the files this script writes as its own.
mark="# Written by scripts/offline_cargo_setup.sh; running it again rewrites this file."

# The allowlist as the compiler has it: the quoted triples of kMcuAllowlist.
allowlist=$(sed -n '/kMcuAllowlist = {/,/};/p' "$here/../core/src/project/mcu_allowlist.h" |
  grep -o '"[^"]*"' | tr -d '"')
if [ -z "$mcus" ]; then
  mcus=$allowlist
elif [ "$(echo $mcus)" = none ]; then
  mcus=""
fi
for mcu in $mcus; do
  if ! printf '%s\n' "$allowlist" | grep -qxF "$mcu"; then
    echo "$0: $mcu is not in the MCU allowlist: $(echo $allowlist)" >&2
    exit 2
  fi
done

prepared=""
missing=""
note_ready() { prepared="$prepared
  $1"; }
note_missing() { missing="$missing
  $1"; }

# --- Debian packages --------------------------------------------------------
packages="rustc cargo librust-serde-json-dev libstd-rust-dev-wasm32 librust-wasm-bindgen-dev rust-src
  librust-compiler-builtins-dev"
if [ "$runners" = yes ]; then
  packages="$packages nodejs binutils qemu-user-static"
  case " $(echo $mcus) " in *" thumb"*) packages="$packages gcc-arm-linux-gnueabihf" ;; esac
  case " $(echo $mcus) " in *" riscv32"*) packages="$packages gcc-riscv64-unknown-elf" ;; esac
fi
need=""
for pkg in $packages; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
done
install_failure=""
if [ -n "$need" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing$need" >&2
  if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $need; } >&2; then
    install_failure="apt-get install$need failed"
  fi
fi
# Why a part cannot be prepared: the first package it needs that is missing.
lacking() {
  for pkg in "$@"; do
    if ! dpkg -s "$pkg" >/dev/null 2>&1; then
      echo "Debian package $pkg is not installed${install_failure:+ ($install_failure)}"
      return
    fi
  done
}

if ! ls -d "$registry"/serde_json-* >/dev/null 2>&1; then
  echo "$0: no serde_json crate under $registry: $(lacking librust-serde-json-dev)" >&2
  exit 1
fi

# --- what is already in DIR must be this script's ----------------------------
mkdir -p "$dir_arg"
dir=$(cd "$dir_arg" && pwd)
vendor="$dir/vendor"
sysroots="$dir/sysroot"
bin="$dir/bin"
config="$dir/.cargo/config.toml"
env_file="$dir/env.sh"
owned_marker=".offline-cargo-setup"

# The config file an earlier version of this script wrote, byte for byte.
legacy_config() {
  printf '[source.crates-io]\nreplace-with = "local"\n\n[source.local]\ndirectory = "%s"\n\n[net]\noffline = true\n' \
    "$vendor"
}
# A folder is this script's when it holds the marker, or (vendor/ as an
# earlier version made it) nothing but links, the stand-in among them.
owned_folder() {
  [ -e "$1/$owned_marker" ] && return 0
  [ "$1" = "$vendor" ] && [ -L "$1/velkor-backtest-0.1.5" ] || return 1
  [ -z "$(find "$1" -mindepth 1 -maxdepth 1 ! -type l -print -quit)" ]
}
owned_file() {
  [ "$(head -n 1 "$1")" = "$mark" ] && return 0
  [ "$1" = "$config" ] && [ "$(cat "$1")" = "$(legacy_config)" ]
}
refused=""
for folder in "$vendor" "$sysroots" "$bin"; do
  if [ -e "$folder" ] || [ -L "$folder" ]; then
    if [ -L "$folder" ] || [ ! -d "$folder" ] || ! owned_folder "$folder"; then refused="$refused $folder"; fi
  fi
done
for file in "$config" "$env_file"; do
  if [ -e "$file" ] || [ -L "$file" ]; then
    if [ -L "$file" ] || [ ! -f "$file" ] || ! owned_file "$file"; then refused="$refused $file"; fi
  fi
done
if [ -n "$refused" ]; then
  echo "$0: not made by this script, left as it is:$refused" >&2
  echo "$0: move it away or choose another DIR" >&2
  exit 1
fi

# --- the directory source -----------------------------------------------------
# Only the links are replaced: nothing else in vendor/ is this script's.
mkdir -p "$vendor" "$dir/.cargo"
find "$vendor" -mindepth 1 -maxdepth 1 -type l -exec rm -f {} +
: > "$vendor/$owned_marker"
for crate in "$registry"/*/; do
  crate=${crate%/}
  ln -s "$crate" "$vendor/$(basename "$crate")"
done
ln -s "$(cd "$stand_in" && pwd)" "$vendor/velkor-backtest-0.1.5"

# --- Debian's toolchain -----------------------------------------------------
toolchain=no
if [ -x /usr/bin/cargo ] && [ -x /usr/bin/rustc ]; then
  toolchain=yes
  mkdir -p "$bin"
  : > "$bin/$owned_marker"
  for tool in cargo rustc rustdoc; do
    [ -x "/usr/bin/$tool" ] && ln -sfn "/usr/bin/$tool" "$bin/$tool"
  done
  rustc_version=$(/usr/bin/rustc -vV)
fi

# --- targets ----------------------------------------------------------------
note_ready "binary: crates from $registry and the velkor-backtest stand-in"

why=$(lacking rustc cargo libstd-rust-dev-wasm32 librust-wasm-bindgen-dev)
if [ -z "$why" ] && ! ls -d "$registry"/wasm-bindgen-0.* >/dev/null 2>&1; then
  why="no wasm-bindgen crate under $registry"
fi
if [ -z "$why" ]; then
  note_ready "wasm: wasm32-unknown-unknown with Debian's standard library and wasm-bindgen (after . $env_file)"
else
  note_missing "wasm: $why"
fi

# Builds core and compiler_builtins for $1 into DIR/sysroot/$1 unless the
# stamp says they are there for this rustc; prints the reason on failure.
builtins=$(ls -d "$registry"/compiler_builtins-0.* 2>/dev/null | tail -n 1)
# A sysroot's marker holds what it was built with; it is up to date while
# that is what would build it now.
stamp="${rustc_version:-}
$builtins"
sysroot_current() {
  [ -f "$sysroots/$1/$owned_marker" ] && [ "$(cat "$sysroots/$1/$owned_marker")" = "$stamp" ]
}
build_sysroot() {
  triple=$1
  root="$sysroots/$triple"
  # What a killed run left half-built goes (the folder is this script's).
  rm -rf "$sysroots/.$triple.tmp-"*
  if sysroot_current "$triple"; then
    return 0
  fi
  echo "building the sysroot for $triple" >&2
  # Built beside the old one and renamed into place, so an interrupted build
  # leaves the previous sysroot or none.
  work="$sysroots/.$triple.tmp-$$"
  lib="$work/lib/rustlib/$triple/lib"
  mkdir -p "$lib"
  # compiler_builtins as its build.rs would configure it for a bare-metal
  # triple (the positional parameters hold these arguments).
  set -- --cfg 'feature="compiler-builtins"' --cfg 'feature="mem"' --cfg 'feature="unstable"'
  case $triple in
    thumbv6m-*|thumbv8m.base-*) set -- "$@" --cfg thumb --cfg thumb_1 ;;
    thumb*) set -- "$@" --cfg thumb ;;
  esac
  log="$work/build.log"
  # RUSTC_BOOTSTRAP lets the stable compiler build the standard library's own
  # crates; it is set for these two commands only, never for the projects.
  if ! RUSTC_BOOTSTRAP=1 /usr/bin/rustc --edition 2021 --crate-type rlib --crate-name core --target "$triple" \
         -C panic=abort -C opt-level=s -Z force-unstable-if-unmarked \
         -o "$lib/libcore.rlib" "$rust_src/core/src/lib.rs" >"$log" 2>&1 ||
     ! RUSTC_BOOTSTRAP=1 /usr/bin/rustc --crate-type rlib --crate-name compiler_builtins --target "$triple" \
         -C panic=abort -C opt-level=s -Z force-unstable-if-unmarked --sysroot "$work" "$@" \
         -o "$lib/libcompiler_builtins.rlib" "$builtins/src/lib.rs" >>"$log" 2>&1; then
    echo "building its core library failed: $(grep -m 1 '^error' "$log" || tail -n 1 "$log")"
    rm -rf "$work"
    return 1
  fi
  rm -f "$log"
  printf '%s\n' "$stamp" > "$work/$owned_marker"
  if [ -e "$root" ]; then
    # Only a sysroot this script made is replaced (its marker checked again).
    [ -f "$root/$owned_marker" ] || { echo "$root was not made by this script"; rm -rf "$work"; return 1; }
    rm -rf "$root"
  fi
  mv "$work" "$root"
}

why=$(lacking rustc cargo rust-src librust-compiler-builtins-dev)
if [ -z "$why" ] && [ -z "$builtins" ]; then
  why="no compiler_builtins crate under $registry"
fi
if [ -n "$why" ]; then
  note_missing "no_std: $why"
else
  mkdir -p "$sysroots"
  : > "$sysroots/$owned_marker"
  known=$(/usr/bin/rustc --print target-list)
  [ -n "$mcus" ] || note_missing "no_std: no MCU asked for (--mcu none)"
  for mcu in $mcus; do
    if ! printf '%s\n' "$known" | grep -qxF "$mcu"; then
      note_missing "no_std $mcu: Debian's rustc does not know this target"
      continue
    fi
    if failure=$(build_sysroot "$mcu"); then
      note_ready "no_std $mcu: sysroot $sysroots/$mcu (after . $env_file)"
    else
      note_missing "no_std $mcu: $failure"
    fi
  done
fi

# --- configuration and environment -------------------------------------------
tmp="$config.tmp-$$"
{
  printf '%s\n' "$mark"
  printf '[source.crates-io]\nreplace-with = "local"\n\n[source.local]\ndirectory = "%s"\n\n[net]\noffline = true\n' \
    "$vendor"
  # Every up-to-date sysroot, this run's and earlier runs' (another --mcu).
  for mcu in $allowlist; do
    [ "$toolchain" = yes ] && sysroot_current "$mcu" || continue
    printf '\n[target.%s]\nrustflags = ["--sysroot", "%s"]\n' "$mcu" "$sysroots/$mcu"
  done
} > "$tmp"
mv "$tmp" "$config"

if [ "$toolchain" = yes ]; then
  tmp="$env_file.tmp-$$"
  cat > "$tmp" <<ENV
$mark
# Source it (. $env_file) before compiling below $dir: Debian's cargo and
# rustc, which the crates in $vendor and the sysroots in $sysroots fit,
# come first on PATH, ahead of any other toolchain (rustup's ~/.cargo/bin).
PATH="$bin:\$PATH"
RUSTC="$bin/rustc"
export PATH RUSTC
ENV
  mv "$tmp" "$env_file"
else
  note_missing "env.sh: Debian's cargo and rustc are not installed: $(lacking rustc cargo)"
fi

if [ "$runners" = yes ]; then
  tools="node"
  case " $(echo $mcus) " in *" thumb"*) tools="$tools arm-linux-gnueabihf-gcc qemu-arm-static" ;; esac
  case " $(echo $mcus) " in *" riscv32"*) tools="$tools riscv64-unknown-elf-gcc qemu-riscv32-static" ;; esac
  for tool in $tools; do
    if command -v "$tool" >/dev/null 2>&1; then note_ready "runner: $tool"; else note_missing "runner: $tool is not installed${install_failure:+ ($install_failure)}"; fi
  done
fi

# The report goes to standard error; standard output has the config file's
# path alone, as it always had.
{
  echo "prepared $dir for generated projects below it (compile with --out-dir $dir/out):$prepared"
  if [ -n "$missing" ]; then
    echo "could not prepare:$missing"
  fi
  if [ "$toolchain" = yes ]; then
    echo "for wasm and no_std builds, first: . $env_file"
  fi
} >&2
echo "$config"
