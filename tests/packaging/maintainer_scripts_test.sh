#!/usr/bin/env bash
# The package's maintainer scripts: udev reads its rules again after install and removal, hidraw
# devices are re-triggered after install, and a system without udev (a container, a chroot) or a
# failing udevadm never makes the scripts fail. A stand-in udevadm logs its calls; the scripts
# run from copies that look for udev's control socket in a scratch directory.
#   maintainer_scripts_test.sh <packaging/linux/debian directory>
set -uo pipefail
scripts=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/run" "$scratch/empty"
for script in postinst postrm; do
  sed "s|-S /run/udev/control|-e $scratch/run/control|" "$scripts/$script" >"$scratch/$script"
done
cat >"$scratch/bin/udevadm" <<STUB
#!/bin/sh
echo "udevadm \$*" >>"$scratch/calls"
exit \${UDEVADM_STATUS:-0}
STUB
chmod +x "$scratch/bin/udevadm"

failures=0
# expect <description> <expected calls, one per line> -- <script> <argument>
# (SCRIPT_PATH, when set, is the PATH the script runs with)
expect() {
  local what=$1 want=$2 script=$4 argument=$5 status got
  rm -f "$scratch/calls"
  PATH=${SCRIPT_PATH:-$PATH} /bin/sh "$scratch/$script" "$argument"
  status=$?
  got=$(cat "$scratch/calls" 2>/dev/null || true)
  if [[ $status -ne 0 || "$got" != "$want" ]]; then
    echo "FAIL: $what: status $status, calls:"
    echo "${got:-(none)}"
    failures=$((failures + 1))
  fi
}

reload="udevadm control --reload-rules"
trigger="udevadm trigger --subsystem-match=hidraw --action=change"

# udev running
touch "$scratch/run/control"
export PATH="$scratch/bin:$PATH"
expect "install" "$reload"$'\n'"$trigger" -- postinst configure
expect "install stopped half-way" "" -- postinst abort-upgrade
expect "removal" "$reload" -- postrm remove
expect "purge" "$reload" -- postrm purge
expect "upgrade (the new version's postinst reloads)" "" -- postrm upgrade
UDEVADM_STATUS=1 expect "install, udevadm failing" "$reload"$'\n'"$trigger" -- postinst configure
UDEVADM_STATUS=1 expect "removal, udevadm failing" "$reload" -- postrm remove

# no udev running: udevadm present, no control socket
rm "$scratch/run/control"
expect "install without udev running" "" -- postinst configure
expect "removal without udev running" "" -- postrm remove

# no udevadm at all (the scripts need nothing but the shell)
touch "$scratch/run/control"
SCRIPT_PATH=$scratch/empty expect "install without udevadm" "" -- postinst configure
SCRIPT_PATH=$scratch/empty expect "removal without udevadm" "" -- postrm remove

[[ $failures -eq 0 ]] && echo "maintainer scripts: all cases passed"
[[ $failures -eq 0 ]]
