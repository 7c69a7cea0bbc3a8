#!/usr/bin/env bash
# CI check of the log server's configuration (docs/log-server.md), both sides: starts vsftpd
# with vsftpd.conf on a free port of 127.0.0.1, over a fresh chroot made by setup.sh for the
# build's upload account; the installer's own upload code stores a log in each upload folder
# (report_tests, LockedDownLogServer), and an FTP client with the same account is refused
# every other operation (check_refusals.py). Needs root (the account, the chroot) and vsftpd.
# Usage: check.sh BUILD [PROGRAM...]
#   BUILD    a configured build, whose upload account is used
#   PROGRAM  test programs holding LockedDownLogServer (default: BUILD's tests/report_tests);
#            one ending in .exe runs under Wine, in the caller's Wine environment
set -euo pipefail
[ "$(id -u)" -eq 0 ] || exec sudo --preserve-env "$0" "$@"
here=$(cd "$(dirname "$0")" && pwd)
build=$1
shift
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$build/tests/report_tests")
setting() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
user=$(setting KXPATCH_UPLOAD_USER)
password=$(setting KXPATCH_UPLOAD_PASSWORD)
[ "$(setting KXPATCH_UPLOAD_HOST)" = 127.0.0.1 ] || { echo "FAIL: the build's log server is not 127.0.0.1" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kxlogserver-XXXXXX")
chmod 0755 "$work"  # the account's session walks to its chroot through it
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$here/setup.sh" "$work/root" "$user" "$password"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
vsftpd "$here/vsftpd.conf" -olisten_port="$port" -ovsftpd_log_file="$work/vsftpd.log" \
  >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' \
    "$port" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.out" >&2; echo "FAIL: vsftpd did not start" >&2; exit 1; }

for program in "${programs[@]}"; do
  runner=() root=$work/root
  if [[ $program == *.exe ]]; then runner=(wine); root=$(winepath -w "$work/root" 2>/dev/null); fi
  if ! KXPATCH_TEST_LOG_SERVER_PORT=$port KXPATCH_TEST_LOG_SERVER_ROOT=$root \
    "${runner[@]}" "$program" --gtest_filter='LockedDownLogServer.*' >"$work/upload.log" 2>&1 ||
    ! grep -q '^\[       OK \] LockedDownLogServer' "$work/upload.log"; then
    cat "$work/upload.log" "$work/vsftpd.log" >&2
    echo "FAIL: the installer's upload to the log server ($(basename "$program"))" >&2
    exit 1
  fi
  echo "log server: $(basename "$program"): the installer's upload landed in both folders, no overwrite"
done
python3 "$here/check_refusals.py" 127.0.0.1 "$port" "$user" "$password" "$work/root" ||
  { cat "$work/vsftpd.log" >&2; exit 1; }
