#!/usr/bin/env bash
# Starts KORVA Manager from the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
exec build/bin/korva-manager "$@"
