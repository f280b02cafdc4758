# Fetches a package of the npm registry once, at a pinned version and checksum, into
# build/cache/npm of the source tree (the caller's working directory). Nothing of it is committed.
#   source scripts/lib/npm-package.sh; tarball=$(npm_package NAME VERSION SHA256)

npm_package() {
    local name=$1 pinned=$2 checksum=$3
    local cache=build/cache/npm
    local tarball="$cache/$name-$pinned.tgz"
    if ! command -v npm >/dev/null 2>&1; then
        echo "Installing: nodejs npm (to fetch $name)" >&2
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq nodejs npm >/dev/null
    fi
    mkdir -p "$cache"
    if [ ! -s "$tarball" ]; then
        (cd "$cache" && npm pack --silent --cache "$PWD/npm-cache" "$name@$pinned" >/dev/null)
    fi
    if ! echo "$checksum  $tarball" | sha256sum --check --status; then
        echo "$tarball does not have the expected checksum; removed" >&2
        rm -f "$tarball"
        return 1
    fi
    echo "$tarball"
}
