# Shared by the scripts: installs from Debian's packages whatever the build and the tests need.

VYNLOOP_PACKAGES=(cmake make g++ pkg-config libsqlite3-dev sqlite3 libcli11-dev nlohmann-json3-dev
                  libgtest-dev libgmock-dev googletest libbenchmark-dev tmux procps
                  libsnmp-dev snmpd snmptrapd snmp smitools)

ensure_packages() {
    local missing=()
    for package in "${VYNLOOP_PACKAGES[@]}"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# The standard MIB modules that VYNLOOP-MIB imports, in build/mibs (fetched once).
ensure_mibs() {
    scripts/lib/fetch-mibs
}

# ThreadSanitizer cannot map its shadow memory when the kernel randomises mappings too widely.
ensure_tsan_mappings() {
    local bits
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)
    if [ "$bits" -gt 28 ]; then
        if [ "$(id -u)" -eq 0 ]; then
            sysctl -qw vm.mmap_rnd_bits=28 || true
        fi
    fi
}

build_preset() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
}
