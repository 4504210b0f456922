#!/usr/bin/env bash
# Installs what is missing (as root), builds, and opens the main window on the
# embedded database (created with demo data on first use). Arguments go to qelclient.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
# qelclient creates no database unless asked: the first run asks for the
# embedded one with demo data; later runs find it (Database::defaultSqlitePath).
args=("$@")
ask_demo=1
[[ -n ${QEL_DATABASE:-} ]] && ask_demo=0
# The desk's settings may name its database (Database/Address).
awk '/^\[/ { g = $0 } g == "[Database]" && /^Address=./ { f = 1 } END { exit !f }' \
    "${XDG_CONFIG_HOME:-${HOME:-}/.config}/QEL/qelclient.conf" 2>/dev/null && ask_demo=0
for a in "$@"; do
    case $a in --database | --database=* | --create | --demo | --backup | --backup=*) ask_demo=0 ;; esac
done
if ((ask_demo)) && [[ ! -e ${XDG_DATA_HOME:-${HOME:-}/.local/share}/qelclient/qelproject.db ]]; then
    args+=(--demo)
fi
exec build/bin/qelclient "${args[@]}"
