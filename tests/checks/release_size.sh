#!/usr/bin/env bash
# release_size.sh EXE [BUDGET]: fails when EXE is larger than BUDGET bytes
# (default 163,840 = 160 KiB, the budget of the 32-bit release). Prints the
# size and the sections' sizes.
set -eu
exe=${1:?exe}
budget=${2:-163840}
size=$(stat -c %s "$exe")
sections=$(objdump -h "$exe" | while read -r _ name hex _; do
  [[ $name == .* ]] && printf '%s %d  ' "$name" $((16#$hex)); done || true)
echo "release size: $size bytes of $budget ($(basename "$exe")): $sections"
if [ "$size" -gt "$budget" ]; then
  echo "FAIL: $exe is $((size - budget)) bytes over the budget" >&2
  exit 1
fi
