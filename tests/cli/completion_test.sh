#!/usr/bin/env bash
# The completion scripts against the built program (first on PATH, talking to its simulations):
# bash's loaded with `source` and asked as bash asks it after a TAB, zsh's asked by an
# interactive zsh on a pseudo-terminal (zsh_completions.zsh).
#   completion_test.sh PROGRAM_DIR BASH_SCRIPT ZSH_DIR
set -euo pipefail
program_dir=$1 bash_script=$2 zsh_dir=$3
here=$(cd "$(dirname "$0")" && pwd)
export PATH="$program_dir:$PATH"
failures=0

source "$bash_script"
if ! complete -p glowstep-cli | grep -q -- '-F _glowstep_cli'; then
  echo "FAIL: the bash script does not register a completion for glowstep-cli"
  exit 1
fi

# What bash offers for the line (TAB at its end), one per line: COMP_WORDS split at white space
# and at ':' and '=', as COMP_WORDBREAKS has bash split them.
bash_offers() {
  local line=$1
  read -r -a COMP_WORDS <<< "$(sed 's/[:=]/ & /g' <<< "$line")"
  [[ $line == *" " || $line == *[:=] ]] && COMP_WORDS+=("")
  COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _glowstep_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Each case: the line, then what is offered, with "|" between the words.
cases=(
  "glowstep-cli wr;write"
  "glowstep-cli re;read|restore"
  "glowstep-cli write st;stairs=|standby_colour=|standby_leds="
  "glowstep-cli get --device GS3-0001 sensor;sensor_time"
  "glowstep-cli read --j;--json"
  "glowstep-cli write --d;--device|--dry-run"
  "glowstep-cli --simulate=t;two"
  "glowstep-cli --simulate=two read --device ;GS3-0001|sim:hid#1|sim:hid#2|usb-0000:00:14.0-1/input0|usb-0000:00:14.0-2/input0"
  "glowstep-cli --simulate read --device usb-0000:00:14.0-1/;14.0-1/input0"
  "glowstep-cli help di;diff"
)
for entry in "${cases[@]}"; do
  line=${entry%%;*}
  expected=$(tr '|' '\n' <<< "${entry#*;}" | sort)
  actual=$(bash_offers "$line")
  if [[ $actual != "$expected" ]]; then
    echo "FAIL (bash) \"$line\": offered [${actual//$'\n'/ }], expected [${expected//$'\n'/ }]"
    failures=$((failures + 1))
  fi
done
# Every setting key is offered to write.
keys=$(glowstep-cli keys --json | sed -n 's/^      "key": "\(.*\)",$/\1=/p' | sort)
if [[ $(bash_offers "glowstep-cli write ") != "$keys" ]]; then
  echo "FAIL (bash): write is not offered every key of \"glowstep-cli keys\""
  failures=$((failures + 1))
fi

zsh_cases=(
  "glowstep-cli wr;write"
  "glowstep-cli write st;stairs|standby_colour|standby_leds"
  "glowstep-cli read --j;--json"
  "glowstep-cli --simulate=t;--simulate=two"
  "glowstep-cli --simulate=two read --device usb;usb-0000:00:14.0-1/input0|usb-0000:00:14.0-2/input0"
  "glowstep-cli help di;diff"
)
if ! command -v zsh > /dev/null; then
  echo "FAIL: zsh is not installed (scripts/install-deps installs it)"
  exit 1
fi
for entry in "${zsh_cases[@]}"; do
  line=${entry%%;*}
  expected=$(tr '|' '\n' <<< "${entry#*;}" | sort)
  actual=$(zsh -f "$here/zsh_completions.zsh" "$zsh_dir" "$line" | sort)
  if [[ $actual != "$expected" ]]; then
    echo "FAIL (zsh) \"$line\": offered [${actual//$'\n'/ }], expected [${expected//$'\n'/ }]"
    failures=$((failures + 1))
  fi
done

((failures == 0)) && echo "All completion cases passed."
exit $((failures > 0))
