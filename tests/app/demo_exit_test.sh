#!/usr/bin/env bash
# The demo ends cleanly when "quit" is followed by more input still arriving: every run must
# exit with status 0.
#   demo_exit_test.sh <demo program> [runs] [lines after quit]
set -uo pipefail
demo=$1
runs=${2:-20}
lines=${3:-20000}

# Lines before "quit" run, lines after it do not.
out=$(printf 'list\nquit\nlist\n' | "$demo" 2>/dev/null)
if [[ $(grep -c '^1 plugged ' <<<"$out") -ne 1 ]]; then
  echo "expected one device line from the list before quit, got:"
  echo "$out"
  exit 1
fi

failed=0
for ((run = 1; run <= runs; ++run)); do
  { echo quit; yes list | head -n "$lines"; } | "$demo" >/dev/null 2>&1
  status=${PIPESTATUS[1]}
  if [[ $status -ne 0 ]]; then
    echo "run $run: exit status $status"
    failed=$((failed + 1))
  fi
done
echo "$((runs - failed)) of $runs runs ended with status 0"
[[ $failed -eq 0 ]]
