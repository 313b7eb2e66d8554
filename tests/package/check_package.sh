#!/usr/bin/env bash
# Checks a built package: lintian, the desktop entries, the metainfo and the
# manual pages; then its contents, unpacked into a read-only folder, run by
# an unprivileged user with a fresh home against the packaged simulator.
# With HYDRIX_TEST_MAY_INSTALL=1 (set by CI, never by default) it also
# installs the package, runs the same from /usr and removes it on every exit.
# Usage: check_package.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "check_package: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root (to run the programs as another user)"

work=$(mktemp -d /tmp/hx-pkg-XXXXXX)
sim_pid=
installed=
cleanup() {
	[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
	if [ -n "$installed" ]; then dpkg -r hydrix >/dev/null || true; fi
	rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== unpacking"
tree=$work/tree
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree"/usr/share/applications/*.desktop || fail "desktop entries"
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml || fail "metainfo"
for page in "$tree"/usr/share/man/man*/*.gz; do
	warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
	[ -z "$warnings" ] || fail "$page: $warnings"
done
[ -f "$tree/usr/share/hydrix/help/index.html" ] || fail "no help pages in /usr/share/hydrix/help"
[ -f "$tree/etc/hydrix/monitor.conf" ] || fail "no /etc/hydrix/monitor.conf"
[ -f "$tree/usr/lib/systemd/system/hydrix-monitor.service" ] || fail "no hydrix-monitor.service"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/hydrix/monitor.conf "$work/control/conffiles" || fail "monitor.conf is not a conffile"
chmod -R a-w "$tree"
snapshot() { (cd "$1" && find . -printf '%p %y %m %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort); }
snapshot "$tree" >"$work/before"

# Runs the scenario with the programs of $1/usr/bin as user nobody, with a
# fresh home in $2.
scenario() {
	local bin=$1/usr/bin home=$2
	mkdir -p "$home/run" && chown -R 65534:65534 "$home" && chmod 700 "$home/run"
	local as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin
		HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen LANG=C.UTF-8)
	"${as_user[@]}" "$bin/hydrix-sim" serve --controller id=1 >"$home/sim.log" 2>&1 &
	sim_pid=$!
	for _ in $(seq 50); do [ -S "$home/run/hydrix-sim.sock" ] && break; sleep 0.1; done
	for p in hydrix hydrixctl flashtool hydrix-sim hydrix-monitor; do
		"${as_user[@]}" "$bin/$p" --version | grep -qx "$p [0-9.]*" || fail "$p --version"
	done
	"${as_user[@]}" "$bin/hydrixctl" list | grep -q '^1	' || fail "hydrixctl list finds no controller"
	"${as_user[@]}" "$bin/hydrixctl" --id 1 settings set alarm_level_V=11 >/dev/null || fail "settings set"
	"${as_user[@]}" "$bin/hydrixctl" --id 1 settings | grep -q '^alarm_level_V	11' || fail "settings set had no effect"
	"${as_user[@]}" "$bin/hydrixctl" message --add English "Packaged check" "Checked" >/dev/null ||
		fail "catalogue addition"
	grep -q "Packaged check" "$home/.config/hydrix/config.xml" || fail "the catalogue addition is not in the user's config.xml"
	# A small application at 0x200, as the simulated boot loader expects.
	printf ':1002000040EF01F0808182838485868788898A8B8C\n:00000001FF\n' >"$home/fw.hex"
	chown 65534:65534 "$home/fw.hex"
	(cd "$home" && "${as_user[@]}" "$bin/flashtool" --batch "device=arvel;usbid=1;prg=fw.hex") >"$home/flash.log" 2>&1 ||
		{ cat "$home/flash.log"; fail "flashtool --batch"; }
	# The list files stay in the runtime folder; the controller's run lock goes.
	[ -f "$home/run/hydrix/progmem.lst" ] || fail "no list file in the runtime folder"
	! ls "$home/run/hydrix" | grep -q '^flashtool-.*\.lock$' || fail "flashtool left its run lock"
	monitor_scenario "$1" "$home"
	"${as_user[@]}" "$bin/hydrix" >"$home/window.log" 2>&1 &
	local window=$!
	sleep 3
	kill -0 "$window" 2>/dev/null || { cat "$home/window.log"; fail "hydrix did not stay open"; }
	kill "$window"; wait "$window" 2>/dev/null || true
	kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
	sim_pid=
	[ -f "$home/.config/hydrix/config.xml" ] || fail "no config.xml in the user's folder"
}

# hydrix-monitor with a two-line monitor.conf against a local mosquitto:
# the simulator's controller appears in a subscriber and in Home Assistant's
# discovery topics; a bad file is refused with its line. Called from the
# scenario, with its user and simulator.
monitor_scenario() {
	local bin=$1/usr/bin home=$2
	printf 'broker = mqtt://127.0.0.1\nperiod_s = 0\n' >"$home/bad.conf"
	"${as_user[@]}" "$bin/hydrix-monitor" --config "$home/bad.conf" 2>"$home/bad.log" && fail "hydrix-monitor took a bad monitor.conf"
	grep -q "bad.conf:2: period_s" "$home/bad.log" || fail "hydrix-monitor did not name the bad line: $(cat "$home/bad.log")"
	command -v mosquitto >/dev/null && command -v mosquitto_sub >/dev/null || { echo "no mosquitto: hydrix-monitor's run skipped"; return 0; }
	local port=$((20000 + RANDOM % 20000))
	printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$home/mosquitto.conf"
	printf 'broker = mqtt://127.0.0.1:%s\ncontrollers = all\n' "$port" >"$home/monitor.conf"
	chown 65534:65534 "$home/mosquitto.conf" "$home/monitor.conf"
	"${as_user[@]}" "$(command -v mosquitto)" -c "$home/mosquitto.conf" >"$home/broker.log" 2>&1 &
	local broker=$!
	sleep 1
	"${as_user[@]}" "$bin/hydrix-monitor" --config "$home/monitor.conf" 2>"$home/monitor.log" &
	local monitor=$!
	timeout 30 mosquitto_sub -h 127.0.0.1 -p "$port" -W 25 -C 1 -t 'hydrix/24000001/state' >"$home/state.json" ||
		{ cat "$home/monitor.log"; kill "$monitor" "$broker"; fail "no state from hydrix-monitor"; }
	grep -q '"serial":"24000001"' "$home/state.json" || fail "hydrix-monitor's state: $(cat "$home/state.json")"
	timeout 15 mosquitto_sub -h 127.0.0.1 -p "$port" -W 10 -C 1 -t 'homeassistant/sensor/hydrix_24000001/battery_voltage_V/config' |
		grep -q '"device_class":"voltage"' || { kill "$monitor" "$broker"; fail "no retained discovery from hydrix-monitor"; }
	kill "$monitor"
	wait "$monitor" || fail "hydrix-monitor did not stop cleanly: $(cat "$home/monitor.log")"
	kill "$broker"; wait "$broker" 2>/dev/null || true
}

echo "== the unpacked package, read-only, as an unprivileged user"
scenario "$tree" "$work/home1"
snapshot "$tree" >"$work/after"
diff "$work/before" "$work/after" || fail "the unpacked tree changed"

if [ "${HYDRIX_TEST_MAY_INSTALL:-}" = 1 ]; then
	echo "== installed with dpkg"
	dpkg -r hydrix >/dev/null 2>&1 || true
	installed=1
	dpkg -i "$deb" >/dev/null
	[ -f /usr/lib/udev/rules.d/70-hydrix.rules ] || fail "the udev rule is not in place"
	[ -f /etc/hydrix/hxusb.conf ] || fail "no /etc/hydrix/hxusb.conf"
	[ -f /etc/hydrix/monitor.conf ] || fail "no /etc/hydrix/monitor.conf"
	[ -f /usr/lib/systemd/system/hydrix-monitor.service ] || fail "no hydrix-monitor.service"
	scenario "" "$work/home2"
	dpkg -r hydrix >/dev/null
	installed=
	left=$(dpkg -L hydrix 2>/dev/null | grep -v '^/etc' | while read -r f; do [ -f "$f" ] && echo "$f"; done || true)
	[ -z "$left" ] || fail "files left after dpkg -r: $left"
	[ -f "$work/home2/.config/hydrix/config.xml" ] || fail "the user's files went with the package"
fi
echo "package checks passed"
