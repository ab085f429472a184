#!/usr/bin/env bash
# The Debian package as a user gets it: made with CPack from the build tree
# BUILD, unpacked into a temporary root with dpkg-deb, and used from there.
# The installed oskara updates a demo queue through the installed servers,
# which a private bus starts from the installed service files, and lists the
# users through the installed library; man finds and renders the installed
# page; --version names the package's version. Needs no network, and leaves
# nothing behind.
#   package_test.sh BUILD SOURCE APPLICATION_CLASS
# APPLICATION_CLASS: the application server's class identifier, its bus name.
set -euo pipefail

build=$1
source=$2
application=$3
work=$(mktemp -d)
# CPack's install writes its list of files into the build tree; leave the
# tree as it was.
manifest=$build/install_manifest.txt
[ -e "$manifest" ] && keep_manifest=1 || keep_manifest=0
cleanup() {
  rm -rf "$work"
  [ "$keep_manifest" = 1 ] || rm -f "$manifest"
}
trap cleanup EXIT

fail() {
  echo "package_test: $*" >&2
  exit 1
}

# Shows a step's output when the step fails.
run() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "failed: $*"; }
}

run "$work/cpack.log" cpack --config "$build/CPackConfig.cmake" -B "$work/out"
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "oskara_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "package file named $(basename "$deb")"
# dpkg-shlibdeps ran: without it CPack keeps only the hand-written needs.
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies computed: $(dpkg-deb -f "$deb" Depends)"

root=$work/root
dpkg-deb -x "$deb" "$root"
oskara=$root/usr/bin/oskara

"$oskara" --version >"$work/version"
[ "$(head -n 1 "$work/version")" = "oskara $version" ] || fail "--version says $(cat "$work/version")"

# Service files name the servers where the package puts them, under /: the
# bus takes only absolute paths there, and a package installs at the root.
# The copies that the private bus reads name them under the temporary root.
mkdir "$work/services"
for service in "$root"/usr/share/dbus-1/services/*.service; do
  copy=$work/services/$(basename "$service")
  sed "s|^Exec=/|Exec=$root/|" "$service" >"$copy"
  exec_path=$(sed -n 's/^Exec=//p' "$copy")
  [ -x "$exec_path" ] || fail "$(basename "$service") starts ${exec_path#"$root"}, which the package lacks"
done
[ -e "$work/services/$application.service" ] || fail "no service file for $application"
sed "s|<servicedir>.*</servicedir>|<servicedir>$work/services</servicedir>|" \
  "$build/dbus/private-bus.conf" >"$work/bus.conf"

data=$work/data
run "$work/demo.log" "$oskara" db demo "$data" --customers 200
export OSKARA_BUS_CONFIG=$work/bus.conf
run "$work/bus.log" "$source/scripts/with-bus" sh -c '
  "$1" update-queue "$2/dt.db" "$2/ar.db" "$2/so.db" && "$1" users "$2/dt.db" "$2/ar.db"' \
  sh "$oskara" "$data"
grep -qx 'Queue updated.' "$work/bus.log" || fail "update-queue said: $(cat "$work/bus.log")"
grep -q '@' "$work/bus.log" || fail "users listed nobody: $(cat "$work/bus.log")"
queued=$("$oskara" db sql "$data/dt.db" "SELECT Count(*) AS Queued FROM tblDTQueue" --csv | tail -n 1)
[ "$queued" -gt 0 ] || fail "the update queued no customer"

# man finds the page where the package puts it, and renders it without a
# complaint.
[ "$(MANPATH=$root/usr/share/man man -w oskara)" = "$root/usr/share/man/man1/oskara.1.gz" ] ||
  fail "man does not find oskara(1) in the package"
man --warnings -l "$root/usr/share/man/man1/oskara.1.gz" >"$work/man.txt" 2>"$work/man.err"
[ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man complains about oskara(1)"; }
grep -q 'update-queue' "$work/man.txt" || fail "oskara(1) shows no commands: $(cat "$work/man.txt")"
