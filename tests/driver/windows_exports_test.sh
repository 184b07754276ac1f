#!/bin/sh
# Veldrane.dll exports DrvFuncTable and nothing else: OBJDUMP -p lists its export names.
#   windows_exports_test.sh OBJDUMP Veldrane.dll
set -eu
names=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep '\[' |
  sed 's/.*\] //')
echo "exports: $names"
test "$names" = "DrvFuncTable"
