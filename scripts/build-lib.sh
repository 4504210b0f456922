# Sourced by the set-up, test, fuzzing and benchmark scripts.

# ensure_packages PACKAGE...: installs the Debian packages that are missing
# (as root); otherwise names them and fails.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) -eq 0 ]]; then
        echo "安装缺少的软件包 / installing: ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >&2 && apt-get install -y -qq "${missing[@]}" >&2
    else
        echo "错误：缺少以下软件包 / missing Debian packages: ${missing[*]}" >&2
        echo "请以 root 运行本脚本，或执行 / run as root, or:  sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
}

# pick_generator DIR: sets the array generator for a cmake call on build tree
# DIR. Ninja for a new tree when it is there; an existing tree keeps its own,
# since CMake cannot change it.
pick_generator() {
    generator=()
    if [[ ! -f $1/CMakeCache.txt ]] && command -v ninja >/dev/null 2>&1; then
        generator=(-G Ninja)
    fi
}
