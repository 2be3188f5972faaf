#!/usr/bin/env bash
# The manual page as man-db reads it: lexgrog finds its NAME line (which apropos searches, so it
# must hold the words users look for), and man formats it without a warning.
#   manual_page_test.sh PAGE.1.gz
set -euo pipefail
page=$1
name=$(lexgrog "$page")
for word in backup restore diff; do
  if [[ $name != *"$word"* ]]; then
    echo "FAIL: the NAME line does not say \"$word\": $name"
    exit 1
  fi
done
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 > /dev/null)
if [[ -n $warnings ]]; then
  echo "FAIL: man warns:"
  echo "$warnings"
  exit 1
fi
echo "The manual page is clean: $name"
