#!/usr/bin/env bash
# Prepares a machine for the log server's vsftpd (docs/log-server.md): the upload account, its
# PAM service and user list, and its chroot. Run as root; running it again changes nothing.
# Usage: setup.sh ROOT USER PASSWORD
#   ROOT      the account's chroot, made if missing (for example /srv/kxpatch-logs)
#   USER      the installer's upload account (the build's KXPATCH_UPLOAD_USER)
#   PASSWORD  its password (KXPATCH_UPLOAD_PASSWORD)
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: setup.sh ROOT USER PASSWORD" >&2; exit 2; }
root=$1 user=$2 password=$3
here=$(cd "$(dirname "$0")" && pwd)

# A system account without a shell or a home of its own: its home is the chroot.
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --system --user-group --home-dir "$root" --no-create-home \
    --shell /usr/sbin/nologin "$user"
fi
[ "$(getent passwd "$user" | cut -d: -f6)" = "$root" ] || usermod --home "$root" "$user"
echo "$user:$password" | chpasswd

install -m 0644 "$here/pam.conf" /etc/pam.d/kxpatch-logs
mkdir -p /etc/kxpatch-logs
echo "$user" >/etc/kxpatch-logs/user_list
mkdir -p /var/run/vsftpd/empty

# The chroot and mox_updater belong to root and cannot be written: the account can neither
# make nor remove anything there. The two upload folders belong to the account, which may
# enter them and make files in them (write and search, 0300), but not list them.
mkdir -p "$root/mox_updater/updaterLog_2.651" "$root/mox_updater/updaterLog2_2.651"
chown root:root "$root" "$root/mox_updater"
chmod 0555 "$root" "$root/mox_updater"
for folder in updaterLog_2.651 updaterLog2_2.651; do
  chown "$user:$user" "$root/mox_updater/$folder"
  chmod 0300 "$root/mox_updater/$folder"
done
