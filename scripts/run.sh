#!/usr/bin/env bash
# Installs what is missing (as root), builds, and opens the main window on the
# embedded database (created with demo data on first use). Arguments go to qelclient.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
exec build/bin/qelclient "$@"
