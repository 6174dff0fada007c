# Sourced by the other scripts: installs what the build needs and prepares the
# virtual environment in .venv with the package installed from this checkout.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
PYTHON="${PYTHON:-python3}"

# System libraries from Debian's packages: OpenSSL (SHA-256), GoogleTest (C++
# tests) and the serde_json crate sources (a real offline cargo build).
need=()
for pkg in libssl-dev libgtest-dev librust-serde-json-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "installing ${need[*]}" >&2
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

if [ ! -x "$VENV/bin/python" ]; then
  "$PYTHON" -m venv "$VENV"
fi
"$VENV/bin/python" -m pip install -q --upgrade pip >/dev/null
"$VENV/bin/python" -m pip install -q "scikit-build-core>=0.10" cmake ninja "pytest>=7" "hypothesis>=6" "jsonschema>=4.18" "mypy>=1.5" "shtab>=1.7" \
  "lizard>=1.17" "pygls>=2.0" "lsprotocol>=2025.0.0" "pytest-lsp>=1.0"
# The build tree is kept under build/ so that reinstalling only recompiles what changed.
"$VENV/bin/python" -m pip install -q --no-build-isolation "$ROOT"
export PATH="$VENV/bin:$PATH"
