# Sourced by the README's two commands (test.sh, main-job.sh) after setup.sh:
#   i386_ready ROOT
# makes sure that 32-bit x86 programs run for the rest of the command. Where
# the kernel runs them (check-i386.sh) nothing is done. Where it does not,
# QEMU's user-mode emulator (qemu-user 10 or later from Debian's packages;
# Debian 12's own 7.2 is too slow and crashes under Wine) is registered in
# binfmt_misc as the handler of i386 ELF executables and shared objects, under
# a name of this command's own, and removed when the command ends, however it
# ends. Only qemu-i386 is kept, in ROOT/i386-emulator, for later runs; apt
# fetches it with a source list and state folders of its own there, so the
# machine's apt sources and lists are not touched. The list's one source is
# the backports suite of this machine's release, from the address that the
# machine's own apt sources give for that suite or else for the release.
#   I386_EMULATION   auto (default): emulate where the kernel runs no 32-bit
#                    code (or where it seems to only through another
#                    command's emulator); always: emulate even where it does;
#                    never: do not.
# Status 0 when 32-bit programs run (natively or emulated), 3 when they do not
# (the check's lines and why emulation did not work are printed), 2 for an
# I386_EMULATION that is none of the three.
# Seams for the host test: I386_CHECK_PROGRAM (see check-i386.sh),
# I386_BINFMT_DIR (default /proc/sys/fs/binfmt_misc) and I386_OS_RELEASE
# (default /etc/os-release, else /usr/lib/os-release); id, sudo, mount and
# apt-get are taken from PATH.
# Sets traps on EXIT, HUP, INT and TERM in the calling shell when it fetches
# or registers, which remove the handler and apt's folder however it ends.

# The folder of these scripts: the caller's own, unless it names it first.
i386_scripts="${i386_scripts:-$(cd "$(dirname "$0")" && pwd)}"
i386_binfmt="${I386_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"
i386_handler="morquaine-i386-$$"
i386_registered=no
i386_apt=""
i386_as_root=""
i386_why=""
# i386 ELF files of type 2 (executable) and 3 (shared object, which covers
# position-independent programs and the loader itself).
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
i386_lowest_major=10

i386_ready() {
    i386_mode="${I386_EMULATION:-auto}"
    case "$i386_mode" in
        auto|always|never) ;;
        *) echo "setup: I386_EMULATION must be auto, always or never, not '$i386_mode'." >&2; return 2 ;;
    esac
    i386_kernel_status=0
    i386_kernel_says="$("$i386_scripts/check-i386.sh" 2>&1)" || i386_kernel_status=$?
    # The check also passes through another command's emulator, which goes
    # when that command ends: then this command needs one of its own.
    i386_reason="$i386_mode"
    if [ "$i386_mode" = auto ]; then
        if [ "$i386_kernel_status" -ne 0 ]; then
            i386_reason=kernel
        elif ls "$i386_binfmt" 2>/dev/null | grep -q '^morquaine-i386-'; then
            i386_reason=others
        fi
    fi
    if [ "$i386_reason" = never ] || [ "$i386_reason" = auto ]; then
        [ -n "$i386_kernel_says" ] && printf '%s\n' "$i386_kernel_says" >&2
        return "$i386_kernel_status"
    fi
    if i386_emulate "$1"; then
        case "$i386_reason" in
            kernel) i386_what="this kernel runs no 32-bit x86 code, so this command emulates it" ;;
            others) i386_what="another command of this project has 32-bit x86 emulated here until it ends, so this command emulates it too" ;;
            *) i386_what="emulating 32-bit x86 for this command, as I386_EMULATION=always asks" ;;
        esac
        echo "setup: $i386_what: QEMU $i386_version runs every 32-bit program until the command ends, which is slower (the whole test run takes about a fifth longer)." >&2
        return 0
    fi
    [ -n "$i386_kernel_says" ] && printf '%s\n' "$i386_kernel_says" >&2
    # The why may end in a tool's own line, with its own full stop.
    echo "setup: emulating 32-bit x86 did not work either: ${i386_why%.}." >&2
    return 3
}

# i386_emulate ROOT: fetches, registers and checks again; on failure nothing
# stays registered and i386_why says what went wrong.
i386_emulate() {
    mkdir -p "$1/i386-emulator" || { i386_why="no folder for the emulator under $1"; return 1; }
    i386_folder="$(cd "$1/i386-emulator" && pwd)"
    i386_emulator="$i386_folder/qemu-i386"
    case "$i386_emulator" in
        *:*) i386_why="the emulator's path has a colon, which binfmt_misc cannot take: $i386_emulator"; return 1 ;;
    esac
    i386_root_command || return 1
    i386_binfmt_ready || return 1
    i386_fetch_emulator || return 1
    i386_register || return 1
    if ! i386_kernel_now="$("$i386_scripts/check-i386.sh" 2>&1)"; then
        i386_remove_handler
        i386_why="with it registered, the check still fails: $(printf '%s\n' "$i386_kernel_now" | sed -n '1s/^setup: //p')"
        return 1
    fi
    return 0
}

# How this shell writes to binfmt_misc: as root, or through sudo without a password.
i386_root_command() {
    if [ "$(id -u)" = 0 ]; then
        i386_as_root=""
    elif command -v sudo >/dev/null 2>&1 && sudo -n true </dev/null >/dev/null 2>&1; then
        i386_as_root="sudo -n"
    else
        i386_why="registering an emulator in binfmt_misc takes root, and this user is not root and has no sudo without a password"
        return 1
    fi
}

# Sets i386_version to what the emulator at $1 tells of its version ("10.0.2"),
# empty when it does not run; true when that is recent enough.
i386_usable() {
    i386_version="$("$1" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9][0-9.]*\).*/\1/p')"
    [ -n "$i386_version" ] && [ "${i386_version%%.*}" -ge "$i386_lowest_major" ]
}

# Keeps the emulator of an earlier run when it is recent enough; otherwise apt
# downloads the package (its signature checked against Debian's keyring) and
# only qemu-i386 is taken out of it.
i386_fetch_emulator() {
    if ! i386_usable "$i386_emulator"; then
        i386_set_traps
        i386_apt="$i386_folder/apt.$$"
        rm -rf "$i386_apt"
        mkdir -p "$i386_apt/lists/partial" "$i386_apt/cache/archives/partial" "$i386_apt/parts" "$i386_apt/download"
        i386_fetched=1
        if i386_find_source; then
            echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $i386_package_source" >"$i386_apt/sources.list"
            i386_fetch_package && i386_fetched=0
        fi
        i386_remove_apt_folder
        [ "$i386_fetched" -eq 0 ] || return 1
    fi
}

# Sets i386_release to the codename that os-release gives ("bookworm"), empty
# when it gives none that can stand in an apt source.
i386_read_release() {
    i386_os_release="${I386_OS_RELEASE:-/etc/os-release}"
    [ -n "$I386_OS_RELEASE" ] || [ -e "$i386_os_release" ] || i386_os_release=/usr/lib/os-release
    i386_release="$(sed -n 's/^VERSION_CODENAME=//p' "$i386_os_release" 2>/dev/null | tail -n 1 | tr -d "\"'")"
    case "$i386_release" in
        ""|*[!A-Za-z0-9._-]*) i386_release="" ;;
    esac
}

# Sets i386_package_source ("ADDRESS RELEASE-backports main"). The address is
# the one this machine's apt sources give for its release's backports, or
# else for the release itself, as apt itself reads them (both formats and
# their options), so that a machine with a mirror of its own fetches from it.
i386_find_source() {
    i386_read_release
    if [ -z "$i386_release" ]; then
        i386_why="no release to fetch qemu-user's backport for: $i386_os_release gives no VERSION_CODENAME"
        return 1
    fi
    # Without --no-release-info apt lists only the sources whose lists were
    # already fetched, which on a fresh machine may be none.
    if ! i386_targets="$(apt-get indextargets --no-release-info \
                             --format '$(TARGET_OF)|$(RELEASE)|$(COMPONENT)|$(REPO_URI)' \
                             </dev/null 2>"$i386_apt/indextargets.log")"; then
        i386_why="apt could not list this machine's sources: $(i386_last_line "$i386_apt/indextargets.log")"
        return 1
    fi
    i386_address="$(i386_source_address "$i386_release-backports")"
    [ -n "$i386_address" ] || i386_address="$(i386_source_address "$i386_release")"
    if [ -z "$i386_address" ]; then
        i386_why="this machine's apt sources have no entry for $i386_release-backports or $i386_release (deb, component main) to fetch qemu-user from"
        return 1
    fi
    i386_package_source="$i386_address $i386_release-backports main"
}

# i386_source_address SUITE: the address of the machine's first binary source
# of SUITE that has the component main.
i386_source_address() {
    printf '%s\n' "$i386_targets" |
        awk -F'|' -v suite="$1" '$1 == "deb" && $2 == suite && $3 == "main" && $4 != "" { print $4; exit }'
}

i386_fetch_package() {
    i386_apt_log="$i386_apt/apt.log"
    if ! (cd "$i386_apt/download" &&
          i386_apt_get update && i386_apt_get download qemu-user) >"$i386_apt_log" 2>&1; then
        i386_why="qemu-user could not be fetched from Debian's packages ($(i386_without_password "$i386_package_source")): $(i386_last_line "$i386_apt_log")"
        return 1
    fi
    i386_deb="$(ls "$i386_apt/download"/qemu-user_*.deb 2>/dev/null | head -n 1)"
    i386_package_version="$(dpkg-deb -f "$i386_deb" Version 2>/dev/null)"
    i386_package_major="$(printf '%s' "${i386_package_version#*:}" | sed -n 's/^\([0-9][0-9]*\)\..*/\1/p')"
    if [ -z "$i386_package_major" ] || [ "$i386_package_major" -lt "$i386_lowest_major" ]; then
        i386_why="the qemu-user that Debian's packages have is of version ${i386_package_version:-unknown}, and $i386_lowest_major or later is needed"
        return 1
    fi
    if ! dpkg-deb --fsys-tarfile "$i386_deb" | tar -x -O ./usr/bin/qemu-i386 >"$i386_apt/qemu-i386" ||
       ! chmod 755 "$i386_apt/qemu-i386" || ! i386_usable "$i386_apt/qemu-i386"; then
        i386_why="qemu-user $i386_package_version gave no qemu-i386 that runs"
        return 1
    fi
    mv -f "$i386_apt/qemu-i386" "$i386_emulator"
}

# i386_last_line LOG: what a tool said last, blank lines aside.
i386_last_line() {
    grep -v '^ *$' "$1" | tail -n 1
}

# A source's address as it may be shown: without a password written into it.
i386_without_password() {
    printf '%s' "$1" | sed 's|^\([A-Za-z][A-Za-z0-9+.-]*://\)[^/@]*@|\1|'
}

i386_apt_get() {
    apt-get -q -o "Dir::Etc::SourceList=$i386_apt/sources.list" -o "Dir::Etc::SourceParts=$i386_apt/parts" \
        -o "Dir::State::Lists=$i386_apt/lists" -o "Dir::Cache=$i386_apt/cache" \
        -o APT::Sandbox::User=root "$@" </dev/null
}

# i386_write_as_root TEXT FILE
i386_write_as_root() {
    $i386_as_root sh -c 'printf "%s" "$1" > "$2"' sh "$1" "$2" 2>&1
}

i386_binfmt_ready() {
    if [ ! -e "$i386_binfmt/register" ]; then
        if ! i386_mount_says="$($i386_as_root mount -t binfmt_misc binfmt_misc "$i386_binfmt" </dev/null 2>&1)"; then
            i386_why="binfmt_misc is not mounted at $i386_binfmt and could not be mounted: $(printf '%s\n' "$i386_mount_says" | tail -n 1)"
            return 1
        fi
    fi
    if [ "$(cat "$i386_binfmt/status" 2>/dev/null)" != enabled ]; then
        i386_why="binfmt_misc is switched off ($i386_binfmt/status does not say enabled)"
        return 1
    fi
}

i386_register() {
    # A handler of this name can only be left from a command of the same
    # process number that was killed outright.
    [ -e "$i386_binfmt/$i386_handler" ] && i386_write_as_root -1 "$i386_binfmt/$i386_handler" >/dev/null
    i386_set_traps
    i386_registered=yes
    if ! i386_register_says="$(i386_write_as_root ":$i386_handler:M::$i386_magic:$i386_mask:$i386_emulator:F" \
                                                  "$i386_binfmt/register")"; then
        i386_registered=no
        i386_why="the emulator could not be registered in binfmt_misc: $(printf '%s\n' "$i386_register_says" | tail -n 1)"
        return 1
    fi
}

i386_remove_handler() {
    [ "$i386_registered" = yes ] || return 0
    i386_registered=no
    i386_write_as_root -1 "$i386_binfmt/$i386_handler" >/dev/null || true
}

i386_remove_apt_folder() {
    [ -n "$i386_apt" ] || return 0
    rm -rf "$i386_apt"
    i386_apt=""
}

# Whatever ends the command, a fetch's folder and the handler go with it; the
# status it ends with is kept. Setting them again changes nothing.
i386_set_traps() {
    trap 'i386_exit_status=$?; i386_remove_handler; i386_remove_apt_folder; exit $i386_exit_status' EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
}
