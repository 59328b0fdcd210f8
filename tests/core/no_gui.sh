#!/bin/sh
# no_gui.sh EXECUTABLE...: fails if any of them loads Qt Widgets or Qt Gui.
status=0
for exe in "$@"; do
  libs=$(ldd "$exe") || { echo "ldd failed on $exe"; exit 1; }
  printf '%s\n' "$exe:" "$libs"
  if printf '%s\n' "$libs" | grep -E 'libQt6(Widgets|Gui)'; then
    echo "$exe loads a GUI library"
    status=1
  fi
done
exit $status
