#!/bin/sh
# Tells whether this kernel runs 32-bit x86 programs. Both Windows programs are
# 32-bit, and Wine runs them (and wineboot itself) only through its 32-bit
# Linux side, so without that nothing of Wine can run here; 64-bit Wine alone
# does not help. Quiet with status 0 when 32-bit programs start (natively, or
# through an emulator registered in binfmt_misc); otherwise it prints why and
# exits with status 3. i386-emulation.sh runs it before and after registering.
# I386_CHECK_PROGRAM names the program this runs with --version (default: the
# 32-bit loader); naming one that fails to start, as a 32-bit program does on
# such a kernel, shows that case on any machine.
probe="${I386_CHECK_PROGRAM:-/lib/ld-linux.so.2}"
status=0
output="$("$probe" --version </dev/null 2>&1)" || status=$?
[ "$status" -eq 0 ] && exit 0
# The shell's own words end the last line, after its name and line number.
reason="$(printf '%s\n' "$output" | tail -n 1)"
reason="${reason##*: }"
cat >&2 <<MSG
setup: this kernel does not run 32-bit x86 programs ('$probe --version' failed with status $status: ${reason:-no output}).
setup: both programs are 32-bit and Wine runs them, and all their tests, only on a kernel that does:
setup: one built with CONFIG_IA32_EMULATION, not started with ia32_emulation=false, and not in a virtual machine that forbids 32-bit code.
MSG
exit 3
