# Sourced by tools/sid_check.sh (after tools/lib.sh, from the checkout's top folder): a
# Debian sid root holding CPython 3.14 and 3.15, the releases this machine's own Debian does
# not ship, made once with debootstrap (minbase: python3.14 and python3.15 with their -dev,
# -venv and -dbg packages, g++ and cmake; about 1.6 GB, kept in a cache folder like the other
# downloaded toolchains), and a way to run this checkout inside it.
#   $sid_root             where the root is kept: TAVO_SID_ROOT, default
#                         ${XDG_CACHE_HOME:-~/.cache}/tavo/sid-root; $sid_root/.complete once whole
#   ensure_root           makes the root, or adds the interpreters a root made for fewer lacks;
#                         once, even when CI's two lanes ask at once
#   in_sid CMD...         runs CMD in the root, in the checkout (chroot, the checkout
#                         bind-mounted at /tavo, /proc and /dev bind-mounted; the mounts live
#                         in a mount namespace of their own, so they are gone when CMD ends,
#                         however it ends)
# Needs root (debootstrap, chroot, mount namespaces). A first run downloads about
# 300 MB of packages and takes about 3 minutes of wall time for the root.
checkout=$(pwd)
sid_root=${TAVO_SID_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo/sid-root}

sid_versions="3.14 3.15"  # what the root holds; TAVO_SID_PYTHONS picks among them

python_packages() {  # version...
    local v
    for v in "$@"; do echo "python$v python$v-dev python$v-venv python$v-dbg"; done
}

make_root() {
    [ -f "$sid_root/.complete" ] && return 0
    apt_install debootstrap || return 1
    local archive start=$SECONDS partial="$sid_root.partial"
    archive=$(debian_archive) || { echo "no Debian archive found in the apt sources" >&2; return 1; }
    rm -rf "$partial"
    mkdir -p "$(dirname "$sid_root")"
    echo "--- sid: debootstrap into $sid_root (log: $sid_root.log)"
    local include
    include=$(echo g++ cmake ca-certificates $(python_packages $sid_versions) | tr ' ' ,)
    if ! debootstrap --variant=minbase --include="$include" sid "$partial" "$archive" > "$sid_root.log" 2>&1; then
        tail -30 "$sid_root.log"
        return 1
    fi
    rm -rf "$sid_root"
    mv "$partial" "$sid_root"
    mkdir -p "$sid_root/tavo"
    touch "$sid_root/.complete"
    echo "sid root made in $((SECONDS - start)) s ($(du -sh "$sid_root" | cut -f1))"
}

# A root made for fewer interpreters gets the missing ones from sid's archive.
complete_root() {
    local v missing=()
    for v in $sid_versions; do
        [ -x "$sid_root/usr/bin/python${v}d" ] || missing+=("$v")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "--- sid: adding CPython ${missing[*]} to the root"
    in_sid sh -c 'apt-get -o Acquire::Check-Valid-Until=false update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"' \
        sh $(python_packages "${missing[@]}") > "$sid_root.log" 2>&1 || { tail -30 "$sid_root.log"; return 1; }
}

# One root for every step, made once even when CI's two lanes ask at once.
ensure_root() {
    mkdir -p "$(dirname "$sid_root")"
    { flock 8; make_root && complete_root; } 8> "$sid_root.lock"
}

# Runs a command in the root, in the checkout, as a fresh login would: pip goes
# through this machine's certificate bundle and resolver; the TAVO_* settings
# (examples, time limits) pass through.
in_sid() {
    cp /etc/resolv.conf "$sid_root/etc/resolv.conf"
    [ -r /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$sid_root/etc/ssl/certs/ca-certificates.crt"
    local pass=() var
    for var in $(compgen -e); do
        case $var in TAVO_SID_* | TAVO_PYTHONS | TAVO_TOOL_PYTHON) ;; TAVO_* | PYTHONWARNINGS | CI) pass+=("$var=${!var}") ;; esac
    done
    unshare --mount --propagation private -- /bin/sh -c '
        root=$1 checkout=$2; shift 2
        mount --bind /proc "$root/proc" && mount --rbind /dev "$root/dev" && mount --bind "$checkout" "$root/tavo" &&
        exec chroot "$root" /usr/bin/env -i "$@"' sh "$sid_root" "$checkout" \
        PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 TAVO_IN_SID=1 \
        PIP_CERT=/etc/ssl/certs/ca-certificates.crt PIP_ROOT_USER_ACTION=ignore "${pass[@]}" \
        /bin/sh -c 'cd /tavo && exec "$@"' sh "$@"
}
