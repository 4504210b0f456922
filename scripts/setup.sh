#!/usr/bin/env bash
# Installs the Debian packages the build needs (when root), then configures
# and builds into build/. Safe to run again: does little when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qt6-base-dev libsqlite3-dev sqlite3 libpq-dev
          postgresql libgtest-dev libgmock-dev googletest libbenchmark-dev
          fonts-arphic-uming xvfb xauth libqt6sql6-sqlite libqt6sql6-psql
          clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    if [[ $(id -u) -eq 0 ]]; then
        echo "安装缺少的软件包 / installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update
        apt-get install -y "${missing[@]}"
    else
        echo "错误：缺少以下软件包，无法构建。" >&2
        echo "error: missing Debian packages: ${missing[*]}" >&2
        echo "请以 root 运行本脚本，或执行 / run as root, or:  sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
fi

generator=()
# The generator of an existing build tree cannot change; pick one only for a new tree.
if [[ ! -f build/CMakeCache.txt ]] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
