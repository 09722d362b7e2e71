#!/usr/bin/env bash
# Starts a program, a 32-bit x86 one under qemu-user: the test runner of the native 32-bit
# build on a kernel that runs no 32-bit programs. Other programs a test names (Python,
# say) start as they are.
set -euo pipefail
program=$1
# ELF magic, then the class byte: 1 for 32-bit.
if [[ "$(head -c 5 "$program" 2>/dev/null | od -An -tx1 | tr -d ' \n')" == 7f454c4601 ]]; then
  exec /usr/bin/qemu-i386-static "$@"
fi
exec "$@"
