#!/usr/bin/env bash
# make TARGET... on a system that may not have make yet: installs it first
# (with the rest of what the simulator needs), then hands over to make.
#   bash scripts/make.sh sim        bash scripts/make.sh test
set -euo pipefail
cd "$(dirname "$0")/.."
command -v make >/dev/null || bash scripts/bootstrap.sh sim
exec make "$@"
