#!/usr/bin/env bash
# Runs planted_leak under the project's suppressions and passes only when
# LeakSanitizer reports the 400-byte leak with PlantedLeakInHandler in its
# allocation stack.
set -uo pipefail
exe=$1 supp=$2
# The options of scripts/test (full stacks at every allocation, so that
# suppressions can name functions); the project's suppressions in any case.
asan="${ASAN_OPTIONS:-detect_leaks=1:fast_unwind_on_malloc=0:exitcode=23}"
out=$(ASAN_OPTIONS="$asan:detect_leaks=1" \
  LSAN_OPTIONS="suppressions=$supp:print_suppressions=0" "$exe" 2>&1)
rc=$?
# The stack of the report that holds the planted allocation.
named=$(awk '/^(Direct|Indirect) leak of /{ head = $0; inleak = 1; next }
             inleak && /^$/ { inleak = 0 }
             inleak && /PlantedLeakInHandler/ { print head " ... " $0; exit }' <<<"$out")
if [ "$rc" -ne 0 ] && [[ "$named" == "Direct leak of 400 byte"* ]]; then
  echo "planted leak named: $(sed -E 's/ +/ /g' <<<"$named")"
  exit 0
fi
echo "FAIL: LeakSanitizer did not name the leak planted in a Qt event handler (exit $rc)."
echo "Does $supp suppress a whole module again?"
printf '%s\n' "$out" | tail -n 40
exit 1
