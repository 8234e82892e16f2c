#!/usr/bin/env bash
# Runs the cost-at-rest benchmark: Xvfb, a private session bus and a private agent directory.
#   bench/run-cost-at-rest.sh [BUILD_DIR] [--seconds N]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
shift || true
ninja -C "$build" pelk-agent bench-bare-quick-app agent-sim >/dev/null
exec "$root/tests/e2e/run-under-xvfb.sh" dbus-run-session -- /usr/bin/python3 "$root/bench/cost_at_rest.py" \
  --build "$build" "$@"
