#!/bin/sh
# The kernel check of the set-up: a probe that cannot start, as a 32-bit
# program cannot where the kernel runs none, gives status 3 and says why;
# one that starts gives status 0 and says nothing.
#   check_i386_test.sh CHECK-SCRIPT WORK-DIR
check="$1"; work="$2"
rm -rf "$work" && mkdir -p "$work"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# An executable whose ELF header names no machine at all, so that neither the
# kernel nor an emulator registered for i386 programs takes it.
not_runnable="$work/not-runnable"
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\000\000' > "$not_runnable"
head -c 64 /dev/zero >> "$not_runnable"
chmod +x "$not_runnable"

status=0
I386_CHECK_PROGRAM="$not_runnable" "$check" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] || fail "a probe that cannot start: status $status, not 3"
[ -s "$work/out" ] && fail "a probe that cannot start: something on standard output"
for words in "this kernel does not run 32-bit x86 programs" "Exec format error" \
             "CONFIG_IA32_EMULATION" "ia32_emulation=false"; do
    grep -qF "$words" "$work/err" || fail "the message lacks '$words'"
done
[ "$(wc -l < "$work/err")" -le 3 ] || fail "the message takes more than three lines"

status=0
I386_CHECK_PROGRAM=true "$check" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "a probe that starts: status $status, not 0"
[ -s "$work/out" ] && fail "a probe that starts: the check printed something"

[ "$failed" -eq 0 ] && echo "kernel check: both cases as expected"
cat "$work/err"
exit "$failed"
