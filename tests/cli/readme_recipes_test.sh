#!/usr/bin/env bash
# The README's scripting recipes, taken from the README itself and run as written against the
# built program's simulations: glowstep-cli is a shell function that adds --simulate=WHAT, the
# controllers keep their settings in a state file between the runs, and the recipes' backup
# /etc/glowstep/stairs.json is a file of the test's own.
#   readme_recipes_test.sh PROGRAM_DIR README
set -euo pipefail
program_dir=$1 readme=$2
export PATH="$program_dir:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GLOWSTEP_SIMULATE_STATE=$work/state.json
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The shell blocks of the Scripting section, one file each.
awk -v dir="$work" '
  /^## / { inside = ($0 == "## Scripting") }
  inside && /^```sh$/ { block++; file = dir "/recipe" block ".sh"; printf "" > file; next }
  inside && /^```$/ { file = ""; next }
  file != "" { print > file }' "$readme"
if [[ ! -f $work/recipe3.sh || -f $work/recipe4.sh ]]; then
  echo "FAIL: the README's Scripting section does not have its three recipes"
  exit 1
fi

# Runs recipe N against simulation WHAT; its output is in $work/out.
recipe() {
  local number=$1 what=$2
  {
    echo "glowstep-cli() { command glowstep-cli --simulate=$what \"\$@\"; }"
    sed "s|/etc/glowstep/stairs.json|$work/stairs.json|g" "$work/recipe$number.sh"
  } > "$work/run.sh"
  bash "$work/run.sh" > "$work/out" 2>&1
}
get() { glowstep-cli --simulate=two get --device "$1" stairs; }

# A backup of other settings than the factory's.
glowstep-cli --simulate write stairs=12 > /dev/null
glowstep-cli --simulate backup "$work/stairs.json" 2> /dev/null
rm "$GLOWSTEP_SIMULATE_STATE"

# 1: every controller gets the backup, and diff says so.
recipe 1 two || fail "recipe 1 ended with status $?: $(cat "$work/out")"
grep -q "dry run: nothing is written" "$work/out" || fail "recipe 1 shows no dry run"
grep -q "Every controller holds the backup." "$work/out" || fail "recipe 1: $(cat "$work/out")"
[[ $(get GS3-0001) == 12 && $(get usb-0000:00:14.0-2/input0) == 12 ]] ||
  fail "recipe 1 did not give both controllers stairs=12"

# 2: quiet while they hold it; names the controller and the key that differ.
recipe 2 two || fail "recipe 2 ended with status $?"
[[ ! -s $work/out ]] || fail "recipe 2 reports controllers that hold the backup: $(cat "$work/out")"
glowstep-cli --simulate=two write --device usb-0000:00:14.0-2/input0 stairs=13 > /dev/null
recipe 2 two || true
[[ $(cat "$work/out") == "usb-0000:00:14.0-2/input0 differs in stairs" ]] ||
  fail "recipe 2 after a change: $(cat "$work/out")"
recipe 2 silent || true
grep -q "exit status 4" "$work/out" || fail "recipe 2 with a silent controller: $(cat "$work/out")"

# 3: the controller plugged in again gets the backup.
glowstep-cli --simulate write stairs=40 > /dev/null
recipe 3 replug || fail "recipe 3 ended with status $?: $(cat "$work/out")"
[[ $(get GS3-0001) == 12 ]] || fail "recipe 3 did not restore the controller plugged in"

((failures == 0)) && echo "The README's three recipes work."
exit $((failures > 0))
