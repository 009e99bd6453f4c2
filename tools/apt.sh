# Sourced by tools/lib.sh and by .ci/bin/apt-get: this machine's package installs, one at a
# time. Two dpkg runs at once fail on dpkg's lock, and CI's two lanes (and the developers
# sharing the machine) install packages at the same time, so every apt-get of the tools and
# of CI takes one lock file first; this is the one place that takes it.
#   tavo_apt_get ARGS...   apt-get ARGS, holding the lock (TAVO_APT_LOCK, default
#                          /tmp/tavo-ci-apt.lock)
#   tavo_apt_locked CMD... any other command that changes dpkg's state, holding the lock
#   apt_install PKG...     installs the Debian packages not installed yet
#                          (apt-get's output shown only when it fails)
tavo_apt_lock=${TAVO_APT_LOCK:-/tmp/tavo-ci-apt.lock}

# The real apt-get: the first one on PATH that is not CI's .ci/bin/apt-get, which comes back
# here (taking the lock a second time would wait forever).
real_apt_get() {
    local d c
    local IFS=:
    for d in $PATH; do
        c="${d:-.}/apt-get"
        [ -x "$c" ] || continue
        case $(readlink -f "$c") in */.ci/bin/apt-get) continue ;; esac
        echo "$c"
        return 0
    done
    echo "apt-get: not found on PATH" >&2
    return 127
}

tavo_apt_locked() {
    flock "$tavo_apt_lock" "$@"
}

tavo_apt_get() {
    local apt
    apt=$(real_apt_get) || return 127
    tavo_apt_locked "$apt" "$@"
}

apt_install() {
    local need=() pkg log
    for pkg in "$@"; do dpkg -s "$pkg" > /dev/null 2>&1 || need+=("$pkg"); done
    [ ${#need[@]} -eq 0 ] && return 0
    echo "installing ${need[*]}"
    log=$(mktemp)
    tavo_apt_get update -q > "$log" 2>&1 || true
    if ! DEBIAN_FRONTEND=noninteractive tavo_apt_get install -y -q --no-install-recommends "${need[@]}" >> "$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}
