#!/usr/bin/env bash
# fresh_root.sh [--out DIR] [--arch ARCH] [--display] RELEASE COMMAND: runs COMMAND (a shell
# command line) as a newcomer would, in a brand-new minimal Debian root of RELEASE (11, 12,
# 13, or their codenames) holding a clone of this checkout's committed tree. The newcomer is
# a normal user with sudo, a clean environment and the clone as current folder; --out DIR is
# theirs at /out for the run, then handed back to its owner with all it holds. --arch ARCH
# makes the root of another Debian architecture (arm64), whose programs run under
# qemu-user through binfmt_misc. --display lets programs in the root draw on the caller's X
# display ($DISPLAY, a local one). Under qemu-user no program gains root from its set-uid
# bit, so sudo cannot work there: in a root of another architecture COMMAND runs as root,
# and runs programs as the newcomer with runuser.
# The base root is made once with debootstrap and cached as a tarball under
# ${XDG_CACHE_HOME:-~/.cache}/snowintro-fresh-root, with the packages the root downloads, so
# a rerun costs only the unpacking and the command itself. Runs itself through sudo when
# not root.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: fresh_root.sh [--out DIR] [--arch ARCH] [--display] RELEASE COMMAND"
fail() { echo "fresh_root.sh: $*" >&2; exit 1; }

out="" arch="" display=""
while [ $# -gt 2 ]; do
    case $1 in
    --out) out=$(realpath "${2:?$usage}") ;;
    --arch) arch=${2:?$usage} ;;
    --display) display=${DISPLAY:?fresh_root.sh: --display needs DISPLAY set}; shift; continue ;;
    *) fail "$usage" ;;
    esac
    shift 2
done
[ $# -eq 2 ] || fail "$usage"
case $1 in
11 | bullseye) codename=bullseye ;;
12 | bookworm) codename=bookworm ;;
13 | trixie) codename=trixie ;;
*) fail "unknown release '$1' (11, 12, 13, bullseye, bookworm or trixie)" ;;
esac
command=$2
# Making the root and entering it takes root; sudo keeps DISPLAY.
[ "$(id -u)" -eq 0 ] || exec sudo ${display:+DISPLAY="$display"} "$0" ${out:+--out "$out"} \
    ${arch:+--arch "$arch"} ${display:+--display} "$@"
. "$top/scripts/setup.sh"
ensure_packages debootstrap git
git -C "$top" rev-parse --verify -q HEAD >/dev/null || fail "$top is no git checkout with a commit"
[ -n "$arch" ] || arch=$(dpkg --print-architecture)

# A root of another architecture runs its programs through qemu-user: binfmt_misc hands them
# to the emulator, which the kernel opens when the format is registered (flag F), so the
# root needs no copy of it.
run_foreign() {
    local qemu
    case $arch in
    arm64) qemu=aarch64 ;;
    *) fail "no emulator known for architecture '$arch' (only arm64)" ;;
    esac
    ensure_packages qemu-user-static binfmt-support
    [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
        fail "binfmt_misc cannot be mounted, so $arch programs cannot run here"
    update-binfmts --enable "qemu-$qemu" >/dev/null 2>&1 || true
    grep -q '^flags:.*F' "/proc/sys/fs/binfmt_misc/qemu-$qemu" 2>/dev/null ||
        fail "qemu-$qemu is not registered with binfmt_misc (update-binfmts --enable qemu-$qemu)"
}
foreign=""
[ "$arch" = "$(dpkg --print-architecture)" ] || { run_foreign; foreign=1; }

cache=${XDG_CACHE_HOME:-$HOME/.cache}/snowintro-fresh-root
base=$cache/debian-$codename-$arch-minbase.tar
debs=$cache/debs-$codename-$arch
mkdir -p "$debs"

# The machine's own Debian mirrors, with RELEASE's suites.
apt_sources=$(debian_suites "$codename")
mirror=$(awk -v suite="$codename" '$2 == suite { print $1; exit }' <<<"$apt_sources")
[ -n "$mirror" ] || fail "the machine's apt configuration names no Debian mirror for $(host_codename)"

# The base: the minimal variant, with git and sudo as a newcomer has them, and the CA
# bundle any machine that clones over https has. Made by one run while any other waits,
# and written under a name of its own, so that none ever takes a part-written one.
exec 9>"$base.lock"
flock 9
if [ ! -s "$base" ]; then
    echo "fresh_root.sh: making the Debian $codename $arch base once (a few minutes)"
    staging=$(mktemp -d "$cache/staging.XXXXXX") tarball=$(mktemp "$base.XXXXXX")
    trap 'rm -rf --one-file-system "$staging" "$tarball"' EXIT
    log=$cache/debootstrap-$codename-$arch.log
    debootstrap --arch="$arch" --variant=minbase --include=git,sudo,ca-certificates "$codename" "$staging" \
        "$mirror" >"$log" 2>&1 || fail "debootstrap of $codename ($arch) from $mirror failed; see $log"
    rm -f "$staging"/var/cache/apt/archives/*.deb
    tar -C "$staging" --numeric-owner -cf "$tarball" .
    chmod 644 "$tarball"
    mv "$tarball" "$base"
    rm -rf --one-file-system "$staging"
    trap - EXIT
fi
exec 9>&-

root=$(mktemp -d /var/tmp/fresh-root.XXXXXX)
# The output folder goes back to its owner, with all the newcomer left in it.
out_owner=${out:+$(stat -c %u:%g "$out")}
cleanup() {
    [ -z "$out" ] || chown -R "$out_owner" "$out"
    findmnt -rn -o TARGET | grep -q "^$root" || rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -C "$root" --numeric-owner -xf "$base"
chmod 755 "$root" # mktemp made it private, but it is everyone's /

# The machine's view of the network: its resolver, its extra certificate authorities
# (a real machine trusts its own), and its mirrors with RELEASE's suites.
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "127.0.1.1 $(hostname)" >>"$root/etc/hosts" # sudo looks its host up
cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/" 2>/dev/null || true
chroot "$root" update-ca-certificates >/dev/null 2>&1
awk '{ print "deb " $1 " " $2 " main" }' <<<"$apt_sources" >"$root/etc/apt/sources.list"

# The newcomer: a user with sudo and a clone of the committed tree.
chroot "$root" useradd -m -s /bin/bash newcomer
echo 'newcomer ALL=(ALL) NOPASSWD: ALL' >"$root/etc/sudoers.d/newcomer"
git clone -q --no-hardlinks "$top" "$root/home/newcomer/snowintro"
git -C "$root/home/newcomer/snowintro" remote remove origin
chroot "$root" chown -R newcomer:newcomer /home/newcomer
mkdir -p "$root/out"
# The packages earlier runs downloaded, as hard links, so that runs side by side share them
# without sharing apt's lock.
cp -l "$debs"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
[ -z "$out" ] || chown 1000 "$out" # the newcomer's, the first user of the root, for the run

# In a mount namespace of its own, so that nothing mounted here outlives the command: a
# private /proc for its own process tree, the machine's /dev and /sys, a fresh /tmp, the
# output folder, and the X display's socket folder.
enter() {
    local r=$root
    mount --rbind /dev "$r/dev"
    mount --rbind /sys "$r/sys"
    mount -t tmpfs tmpfs "$r/tmp"
    if [ -n "$out" ]; then mount --bind "$out" "$r/out"; fi
    chroot "$r" chmod 1777 /tmp
    if [ -n "$display" ]; then
        mkdir "$r/tmp/.X11-unix"
        mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"
    fi
    local user=newcomer home=/home/newcomer
    [ -z "$foreign" ] || user=root home=/root
    exec chroot "$r" runuser -u $user -- env -i HOME=$home USER=$user \
        LOGNAME=$user SHELL=/bin/bash LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/bin:/usr/bin:/bin:/usr/games ${display:+DISPLAY="$display"} \
        bash -c "cd /home/newcomer/snowintro && $command"
}
export root out command display foreign
# In a chroot (a fresh root running this project's own tests), / is no mount point to make
# private; the mounts there already are, in that root's own namespace.
propagation=private
mountpoint -q / || propagation=unchanged
# In the background (keeping standard input), so that a signal to this script is handled at
# once rather than after the command: it kills unshare, which ignores SIGTERM itself, and so
# its child (--kill-child), the namespace's first process, and with that every process there.
# The root goes only once that first process is gone or a zombie, which it is only when the
# rest have gone.
unshare --kill-child --mount --propagation $propagation --pid --fork --mount-proc="$root/proc" \
    bash -c "$(declare -f enter); enter" <&0 &
entered=$!
stop() {
    local first pid
    first=$(cat "/proc/$entered/task/$entered/children" 2>/dev/null) || true
    kill -KILL "$entered" 2>/dev/null || true
    { wait "$entered"; } 2>/dev/null || true
    for pid in $first; do
        while [ -e "/proc/$pid" ] && ! grep -q '^State:.*zombie' "/proc/$pid/status" 2>/dev/null; do sleep 0.1; done
    done
    exit 143
}
trap stop TERM INT HUP
status=0
wait "$entered" || status=$?
trap - TERM INT HUP
cp -ln "$root"/var/cache/apt/archives/*.deb "$debs/" 2>/dev/null || true
exit $status
