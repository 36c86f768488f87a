#!/usr/bin/env bash
# The README's two commands on a fresh machine: builds a minimal Debian 12 root with debootstrap
# (--variant=minbase, then git alone), clones this repository into it and runs scripts/demo.sh
# and then scripts/test.sh there, so that every package the scripts forget to install shows up
# as a failure. Prints the wall time of each stage, and the packages and disk the demo installs.
# Not part of the normal test run: it downloads about 900 packages and takes an hour or more.
#   scripts/fresh_check.sh [ROOT]    as root; ROOT (default build/fresh-root) is made anew
# The root is unmounted at the end either way and kept for a look; remove it with rm -rf.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
root=${1:-$repo/build/fresh-root}
mirror=http://deb.debian.org/debian
marker=.rowflume-fresh-root

[ "$(id -u)" = 0 ] || { echo "fresh_check.sh: run it as root (debootstrap, chroot, mount)" >&2; exit 2; }
command -v debootstrap >/dev/null ||
  { echo "fresh_check.sh: debootstrap is missing (apt-get install debootstrap)" >&2; exit 2; }
if [ -e "$root" ]; then
  # Only a root this script made, with nothing mounted inside, is removed.
  [ -f "$root/$marker" ] ||
    { echo "fresh_check.sh: $root exists and was not made by this script" >&2; exit 2; }
  if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "fresh_check.sh: something is still mounted below $root" >&2
    exit 2
  fi
  rm -rf "$root"
fi

stage_start=0
begin() {
  echo "== fresh: $1"
  stage_start=$(date +%s)
}
finish() {
  echo "== fresh: $1 took $(($(date +%s) - stage_start)) s"
}

# Processes left inside the root (a server a failed test did not stop) keep its mounts busy.
# (Both functions run from the exit trap.)
# shellcheck disable=SC2317
leftovers() {
  local proc
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && echo "${proc#/proc/}"
  done
  return 0
}
# shellcheck disable=SC2317
unmount_all() {
  local pids
  pids=$(leftovers)
  if [ -n "$pids" ]; then
    echo "ending processes left in the root: $pids"
    # shellcheck disable=SC2086  # one PID per word
    kill $pids 2>/dev/null || true
    sleep 2
  fi
  umount -R "$root/dev" 2>/dev/null || true
  umount -R "$root/sys" 2>/dev/null || true
  umount "$root/proc" 2>/dev/null || true
  if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "fresh_check.sh: could not unmount everything below $root:" >&2
    findmnt -rn -o TARGET | grep "^$root/" >&2
  fi
}

# Runs a command line as root in the fresh system, with a login's plain environment.
in_root() {
  # Node takes no system certificates by itself: it is given the bundle when the host gives it.
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    ${NODE_EXTRA_CA_CERTS:+NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$1"
}

packages() { in_root "dpkg-query -W -f '\${binary:Package} \${Installed-Size}\n'" | sort; }
root_kib() { du -sxk --exclude="$root/root/rowflume" "$root" | cut -f1; }

total_start=$(date +%s)
begin "debootstrap (minbase, bookworm)"
mkdir -p "$root"
touch "$root/$marker"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
  tail -n 30 "$root.debootstrap.log"
  echo "fresh_check.sh: debootstrap failed (log: $root.debootstrap.log)" >&2
  exit 1
}
finish "debootstrap"

trap unmount_all EXIT
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
cp /etc/resolv.conf /etc/hosts "$root/etc/"
# The host's package sources (in place of debootstrap's one line), and the certificate
# authorities it trusts: a host that reaches the internet through a proxy of its own needs them,
# and /usr/local/share/ca-certificates keeps them when the root's ca-certificates is installed.
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/"
  rm -f "$root/etc/apt/sources.list"
fi
mkdir -p "$root/etc/ssl/certs" "$root/usr/local/share/ca-certificates"
cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/"
cp -r /usr/local/share/ca-certificates/. "$root/usr/local/share/ca-certificates/" 2>/dev/null || true
# Services are not started inside a chroot: the tests start their own servers.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

begin "git, then the clone"
in_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git >/tmp/git.log 2>&1 || { cat /tmp/git.log; exit 1; }"
git clone -q --no-hardlinks "$repo" "$root/root/rowflume"
echo "cloned $(git -C "$root/root/rowflume" log -1 --format='%h %s')"
finish "git and clone"

packages >"$root.packages.before"
kib_before=$(root_kib)
begin "scripts/demo.sh"
in_root "cd /root/rowflume && scripts/demo.sh"
finish "scripts/demo.sh"
packages >"$root.packages.demo"
kib_demo=$(root_kib)
added=$(comm -13 "$root.packages.before" "$root.packages.demo")
echo "the demo installed $(printf '%s\n' "$added" | grep -c .) packages," \
  "$(printf '%s\n' "$added" | awk '{kib += $2} END {printf "%.0f", kib / 1024}') MB installed size," \
  "the root grew by $(((kib_demo - kib_before) / 1024)) MB (apt's cache included, the clone excluded);" \
  "build/ holds $(du -sm "$root/root/rowflume/build" | cut -f1) MB"

begin "scripts/test.sh"
status=0
in_root "cd /root/rowflume && scripts/test.sh" || status=$?
finish "scripts/test.sh (status $status)"
packages >"$root.packages.test"
echo "after the tests: $(grep -c . "$root.packages.test") packages in all," \
  "$(comm -13 "$root.packages.demo" "$root.packages.test" | grep -c .) more than after the demo;" \
  "the root holds $(($(root_kib) / 1024)) MB"
echo "== fresh: all stages took $(($(date +%s) - total_start)) s"
exit "$status"
