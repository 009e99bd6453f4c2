# Sourced by tools/aarch64_check.sh and tools/release_wheels.sh (after tools/lib.sh): makes an AArch64
# Linux environment on an x86-64 Debian machine. arm64_setup HOST_PYTHON makes it and sets
#   $arm64_root    Debian's arm64 CPython 3.11 and its libraries, unpacked (dpkg-deb -x)
#   $arm64_python  that interpreter; it runs under qemu user emulation, registered
#                  with binfmt_misc, so that it also runs when a test starts
#                  sys.executable in a subprocess
#   $arm64_site    pytest, hypothesis and numpy for it (PyPI wheels for aarch64)
#   QEMU_LD_PREFIX (exported) = $arm64_root, where qemu finds the arm64 loader and libraries
# (tools/lib.sh's arm64_prove runs the suite there against an aarch64 wheel).
# TAVO_ARM64_CACHE: where the sysroot and the test packages are kept
# (default ~/.cache/tavo/arm64); a first set-up downloads about 25 MB.

arm64_cache=${TAVO_ARM64_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo/arm64}
arm64_root="$arm64_cache/sysroot"
arm64_site="$arm64_cache/site"
arm64_python="$arm64_root/usr/bin/python3.11"

# The arm64 packages: CPython 3.11 (interpreter, standard library, headers) and
# every library they need, resolved by apt against Debian's arm64 archive.
arm64_sysroot() {
    [ -f "$arm64_root/.complete" ] && return 0
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        tavo_apt_locked dpkg --add-architecture arm64
    fi
    if ! apt-cache policy python3.11-minimal:arm64 2>/dev/null | grep -q 'Candidate: [0-9]'; then
        tavo_apt_get update -qq > /dev/null 2>&1 || { echo "apt-get update failed" >&2; return 1; }
    fi
    local roots=(python3.11-minimal:arm64 libpython3.11-stdlib:arm64 libpython3.11-dev:arm64 libstdc++6:arm64 media-types)
    local pkgs
    pkgs=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
               --no-replaces --no-enhances "${roots[@]}" 2>/dev/null |
           grep -v '^ ' | grep -E ':arm64$|^media-types$' |
           grep -vE '^(dpkg|install-info|tar|perl|perl-base|rpcsvc-proto|libc-dev-bin|linux-libc-dev|libc6-dev|libcrypt-dev|libnsl-dev|libtirpc-dev):' |
           sort -u)
    [ -n "$pkgs" ] || { echo "apt found no arm64 CPython packages" >&2; return 1; }
    rm -rf "$arm64_cache/debs" "$arm64_root"
    mkdir -p "$arm64_cache/debs" "$arm64_root"
    echo "downloading $(wc -w <<<"$pkgs") arm64 packages"
    (cd "$arm64_cache/debs" && tavo_apt_get download $pkgs) > "$arm64_cache/download.log" 2>&1 ||
        { cat "$arm64_cache/download.log" >&2; return 1; }
    local deb
    for deb in "$arm64_cache"/debs/*.deb; do dpkg-deb -x "$deb" "$arm64_root"; done
    rm -rf "$arm64_cache/debs"
    touch "$arm64_root/.complete"
}

# qemu-aarch64 registered with binfmt_misc (the kernel starts arm64 programs
# through it); the mount point is mounted first when a container lacks it.
arm64_binfmt() {
    local fs=/proc/sys/fs/binfmt_misc
    if [ ! -e "$fs/register" ]; then
        mount -t binfmt_misc binfmt_misc "$fs" 2>/dev/null ||
            { echo "cannot mount $fs (binfmt_misc)" >&2; return 1; }
    fi
    if [ ! -e "$fs/qemu-aarch64" ]; then
        local conf=/usr/lib/binfmt.d/qemu-aarch64.conf
        [ -r "$conf" ] || { echo "$conf missing (qemu-user-static)" >&2; return 1; }
        cat "$conf" > "$fs/register" || { echo "cannot register qemu-aarch64 with binfmt_misc" >&2; return 1; }
    fi
    [ "$(cat "$fs/qemu-aarch64" | head -1)" = enabled ] || { echo "qemu-aarch64 is registered but disabled" >&2; return 1; }
}

# pytest, hypothesis and numpy for the arm64 interpreter: wheels for aarch64
# installed by the host's pip into a folder that goes on PYTHONPATH.
arm64_test_packages() {
    local host_python=$1
    [ -f "$arm64_site/.complete" ] && return 0
    rm -rf "$arm64_site"
    pip_q "$host_python" install --root-user-action=ignore --target "$arm64_site" \
        --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 --implementation cp \
        --python-version 3.11 --abi cp311 --only-binary=:all: pytest hypothesis numpy || return 1
    touch "$arm64_site/.complete"
}

arm64_setup() {  # host_python
    apt_install qemu-user-static g++-aarch64-linux-gnu || return 1
    arm64_sysroot || return 1
    arm64_binfmt || return 1
    export QEMU_LD_PREFIX="$arm64_root"
    local machine
    machine=$("$arm64_python" -c 'import platform; print(platform.machine())') || {
        echo "the arm64 CPython does not run under emulation" >&2
        return 1
    }
    [ "$machine" = aarch64 ] || { echo "the arm64 CPython says it runs on $machine" >&2; return 1; }
    arm64_test_packages "$1"
}
