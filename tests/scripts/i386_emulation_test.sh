#!/bin/sh
# The README commands' choice of running 32-bit x86 programs natively, emulated
# or not at all (scripts/i386-emulation.sh), through its seams: a fake
# binfmt_misc folder, a stand-in 32-bit loader that starts only while a handler
# is registered there, and stand-ins for id, sudo, mount and apt-get on PATH.
# Nothing is registered with the kernel.
#   i386_emulation_test.sh SCRIPTS-DIR WORK-DIR
scripts="$1"; work="$2"
rm -rf "$work" && mkdir -p "$work/bin" "$work/debs"
work="$(cd "$work" && pwd)"
failed=0
fail() { echo "FAIL: $case_name: $*" >&2; failed=1; }

# --- stand-ins -------------------------------------------------------------
cat >"$work/probe" <<'EOF'
#!/bin/sh
# The 32-bit loader: starts only while a handler is registered (and not yet
# removed) in the fake binfmt_misc folder, or on a kernel that runs it.
[ "$FAKE_KERNEL" = runs32 ] && exit 0
name="$(sed -n 's/^:\([^:]*\):.*/\1/p' "$FAKE_BINFMT/register" 2>/dev/null)"
if [ -n "$name" ] && [ "$FAKE_EMULATOR" != broken ] && [ "$(cat "$FAKE_BINFMT/$name" 2>/dev/null)" != -1 ]; then
    exit 0
fi
echo "probe: Exec format error" >&2
exit 126
EOF
cat >"$work/bin/id" <<'EOF'
#!/bin/sh
echo "${FAKE_UID:-0}"
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/bin/sh
if [ "$FAKE_SUDO" = ok ]; then
    echo "sudo $*" >>"$FAKE_LOG"
    [ "$1" = -n ] && shift
    exec "$@"
fi
echo "sudo: a password is required" >&2
exit 1
EOF
cat >"$work/bin/mount" <<'EOF'
#!/bin/sh
echo "mount $*" >>"$FAKE_LOG"
if [ "$FAKE_MOUNT" = ok ]; then
    for dir; do :; done
    : >"$dir/register" && echo enabled >"$dir/status"
    exit 0
fi
echo "mount: only root can use \"--types\" option" >&2
exit 1
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_LOG"
if [ "$FAKE_APT" = fail ]; then
    echo "Err:1 http://deb.debian.org/debian bookworm-backports InRelease"
    echo "E: Unable to locate package qemu-user"
    exit 100
fi
for last; do :; done
[ "$last" = qemu-user ] && cp "$FAKE_DEB" ./qemu-user_10_amd64.deb
exit 0
EOF
chmod +x "$work/probe" "$work/bin/"*

# make_deb NAME VERSION EMULATOR-VERSION: a qemu-user package of that version
# whose qemu-i386 tells the emulator version given.
make_deb() {
    pkg="$work/debs/$1"
    mkdir -p "$pkg/DEBIAN" "$pkg/usr/bin"
    printf 'Package: qemu-user\nVersion: %s\nArchitecture: amd64\nMaintainer: test <test@example.invalid>\nDescription: stand-in\n' \
        "$2" >"$pkg/DEBIAN/control"
    printf '#!/bin/sh\necho "qemu-i386 version %s (stand-in)"\n' "$3" >"$pkg/usr/bin/qemu-i386"
    chmod 755 "$pkg/usr/bin/qemu-i386"
    dpkg-deb -Zgzip --root-owner-group -b "$pkg" "$work/debs/$1.deb" >/dev/null
}
make_deb new 1:10.0.2+ds-2 10.0.2
make_deb old 1:7.2+dfsg-7 7.2.9

# The command: sources the library, is ready or not, then ends as asked.
cat >"$work/command.sh" <<'EOF'
i386_scripts="$SCRIPTS"
. "$SCRIPTS/i386-emulation.sh"
status=0
i386_ready "$ROOT" || status=$?
echo "ready $status"
echo "handler $i386_handler"
[ "$status" -eq 0 ] || exit "$status"
"$I386_CHECK_PROGRAM" --version 2>/dev/null && echo "32-bit runs"
case "$1" in
    fail) exit 7 ;;
    term) (sleep 0.2; kill -TERM $$) & sleep 1 ;;
    int) (sleep 0.2; kill -INT $$) & sleep 1 ;;
esac
echo "ended normally"
EOF

# --- running it ------------------------------------------------------------
# run NAME ENDING [VAR=value...]: a fresh binfmt_misc folder (mounted unless
# FAKE_UNMOUNTED=1), the command's status in $status, its output in out/err;
# the caller's own I386_EMULATION plays no part.
run() {
    case_name="$1"; ending="$2"; shift 2
    binfmt="$work/binfmt"
    rm -rf "$binfmt" "$work/log" && mkdir -p "$binfmt"
    : >"$work/log"
    out="$work/out"; err="$work/err"
    status=0
    env PATH="$work/bin:$PATH" SCRIPTS="$scripts" ROOT="$work/root" I386_BINFMT_DIR="$binfmt" \
        I386_CHECK_PROGRAM="$work/probe" FAKE_BINFMT="$binfmt" FAKE_LOG="$work/log" \
        I386_EMULATION=auto FAKE_KERNEL=none FAKE_EMULATOR=works FAKE_UID=0 FAKE_SUDO=no FAKE_MOUNT=no \
        FAKE_APT=ok FAKE_DEB="$work/debs/new.deb" FAKE_UNMOUNTED=0 FAKE_OTHER=0 "$@" \
        sh -c '[ "$FAKE_UNMOUNTED" = 1 ] || { : >"$FAKE_BINFMT/register"; echo enabled >"$FAKE_BINFMT/status"; }
               [ "$FAKE_OTHER" = 1 ] && echo enabled >"$FAKE_BINFMT/morquaine-i386-1"
               exec sh "$0" "$1"' "$work/command.sh" "$ending" >"$out" 2>"$err" || status=$?
    handler="$(sed -n 's/^handler //p' "$out")"
}

expect_status() { [ "$status" -eq "$1" ] || fail "status $status, not $1; stderr: $(cat "$err")"; }
expect_err() { grep -qF -- "$1" "$err" || fail "stderr lacks '$1': $(cat "$err")"; }
expect_out() { grep -qxF -- "$1" "$out" || fail "stdout lacks '$1': $(cat "$out")"; }
expect_no_out() { ! grep -qxF -- "$1" "$out" || fail "stdout has '$1'"; }
expect_lines() { [ "$(wc -l <"$err")" -eq "$1" ] || fail "stderr has $(wc -l <"$err") lines, not $1: $(cat "$err")"; }
expect_nothing_registered() {
    [ -s "$binfmt/register" ] && fail "something was registered: $(cat "$binfmt/register")"
    return 0
}
# The handler of this command was registered as the i386 handler with the F
# flag, through the emulator under the build tree, and removed afterwards.
expect_registered_and_removed() {
    case "$handler" in morquaine-i386-[0-9]*) ;; *) fail "handler name '$handler'" ;; esac
    line=":$handler:M::"'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'":$work/root/i386-emulator/qemu-i386:F"
    [ "$(cat "$binfmt/register")" = "$line" ] || fail "registered '$(cat "$binfmt/register")', not '$line'"
    [ "$(cat "$binfmt/$handler" 2>/dev/null)" = -1 ] || fail "the handler was not removed"
}
expect_kernel_lines() {
    expect_err "this kernel does not run 32-bit x86 programs"
    expect_err "CONFIG_IA32_EMULATION"
}
fetches() { grep -c '^apt-get .* download qemu-user' "$work/log"; }

# --- the cases -------------------------------------------------------------
run "kernel runs 32-bit code" ok FAKE_KERNEL=runs32
expect_status 0; expect_lines 0; expect_nothing_registered; expect_out "ended normally"
[ "$(fetches)" -eq 0 ] || fail "fetched an emulator"

run "never, kernel runs none" ok FAKE_KERNEL=none I386_EMULATION=never
expect_status 3; expect_kernel_lines; expect_lines 3; expect_nothing_registered
[ -d "$work/root/i386-emulator" ] && fail "made the emulator's folder"

run "auto, first run fetches" ok
expect_status 0; expect_lines 1; expect_err "this kernel runs no 32-bit x86 code, so this command emulates it"
expect_err "QEMU 10.0.2"; expect_err "slower"
expect_out "32-bit runs"; expect_out "ended normally"; expect_registered_and_removed
[ "$(fetches)" -eq 1 ] || fail "$(fetches) downloads, not 1"
grep -q "Dir::Etc::SourceList=$work/root/i386-emulator/apt\.[0-9]*/sources.list" "$work/log" ||
    fail "apt was not given a source list of its own: $(cat "$work/log")"
grep -q "Dir::State::Lists=$work/root/i386-emulator/apt\.[0-9]*/lists" "$work/log" ||
    fail "apt was not given lists of its own"
[ "$(ls "$work/root/i386-emulator")" = qemu-i386 ] || fail "left in the emulator's folder: $(ls "$work/root/i386-emulator")"

for ending in fail term int; do
    run "auto, the command ends by $ending" "$ending"
    case "$ending" in fail) expect_status 7 ;; term) expect_status 143 ;; int) expect_status 130 ;; esac
    expect_out "32-bit runs"; expect_no_out "ended normally"; expect_registered_and_removed
    [ "$(fetches)" -eq 0 ] || fail "fetched again, though the emulator is kept"
done

run "always, kernel runs 32-bit code" ok FAKE_KERNEL=runs32 I386_EMULATION=always
expect_status 0; expect_lines 1; expect_err "as I386_EMULATION=always asks"; expect_registered_and_removed

# 32-bit code seems to run, but through another command's emulator, which
# goes when that command ends.
run "auto, another command emulates" ok FAKE_KERNEL=runs32 FAKE_OTHER=1
expect_status 0; expect_lines 1; expect_err "another command of this project has 32-bit x86 emulated here"
expect_registered_and_removed
[ "$(cat "$binfmt/morquaine-i386-1")" = enabled ] || fail "the other command's handler was touched"

run "not root, sudo without a password" ok FAKE_UID=1000 FAKE_SUDO=ok
expect_status 0; expect_registered_and_removed
grep -q '^sudo -n sh -c' "$work/log" || fail "binfmt_misc was not written through sudo"

run "binfmt_misc not mounted, mounted" ok FAKE_UNMOUNTED=1 FAKE_MOUNT=ok
expect_status 0; expect_registered_and_removed
grep -qF "mount -t binfmt_misc binfmt_misc $work/binfmt" "$work/log" || fail "not mounted"

run "bad I386_EMULATION" ok I386_EMULATION=sometimes
expect_status 2; expect_err "I386_EMULATION must be auto, always or never"; expect_nothing_registered

# Where emulation cannot be had: the kernel check's three lines, one line of
# why, status 3 and nothing left registered.
rm -rf "$work/root"
while IFS='|' read -r name settings why; do
    # shellcheck disable=SC2086
    run "$name" ok $settings
    expect_status 3; expect_kernel_lines; expect_lines 4
    expect_err "setup: emulating 32-bit x86 did not work either: $why"
    expect_no_out "ended normally"
    if [ -s "$binfmt/register" ]; then expect_registered_and_removed; fi
done <<CASES
not root and no sudo|FAKE_UID=1000|registering an emulator in binfmt_misc takes root
no binfmt_misc|FAKE_UNMOUNTED=1|binfmt_misc is not mounted at $work/binfmt and could not be mounted: mount: only root
package not fetched|FAKE_APT=fail|qemu-user could not be fetched from Debian's packages (http://deb.debian.org/debian bookworm-backports main): E: Unable to locate package qemu-user
package too old|FAKE_DEB=$work/debs/old.deb|the qemu-user that Debian's packages have is of version 1:7.2+dfsg-7, and 10 or later is needed
check fails through the handler|FAKE_EMULATOR=broken|with it registered, the check still fails: this kernel does not run 32-bit x86 programs
CASES
run "check fails through the handler: it was registered, then removed" ok FAKE_EMULATOR=broken
expect_registered_and_removed
rm -rf "$work/root"
run "package too old: nothing of it is kept" ok FAKE_DEB="$work/debs/old.deb"
[ -e "$work/root/i386-emulator/qemu-i386" ] && fail "the old emulator was kept"
expect_nothing_registered

[ "$failed" -eq 0 ] && echo "i386 emulation: every case as expected"
exit "$failed"
