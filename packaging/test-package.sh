#!/usr/bin/env bash
# The package as an administrator gets it: its tables and signatures, then, under Wine in a
# prefix of its own, install, the installed bridge at work, the same package again, an
# upgrade while a bridge runs, a refused downgrade and uninstall.
# Usage: test-package.sh BUILD_DIR VERSION (inside a Wine session, for its display).
#
# Wine does not keep a folder's security descriptor, so the log folder's permissions are
# shown in the package's own table, the one Windows Installer applies, and what they grant
# is asked of AccessCheck (Wine's own is faithful for a descriptor from SDDL).
set -euo pipefail

build_dir=$(realpath "$1")
version=$2
here=$(dirname "$(realpath "$0")")
package_dir="$build_dir/package"
test_cert_dir="$build_dir/test-signing"
work="$build_dir/package-test"
product_name="Quorvix Remote session bridge"

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

rm -rf "$work"
mkdir -p "$work"

# --- The tables -------------------------------------------------------------------------

msi="$package_dir/uxlink.msi"
table() { msiinfo export "$1" "$2" | tr -d '\r'; }
# One row's value in a table's column, the row found by its first column.
cell() { table "$1" "$2" | awk -F'\t' -v key="$3" -v col="$4" 'NR > 3 && $1 == key { print $col }'; }

step "package tables"
for t in $(msiinfo tables "$msi"); do
    table "$msi" "$t" >"$work/$t.idt" || fail "table $t cannot be read"
done
msiinfo suminfo "$msi"
for t in Property Upgrade LaunchCondition Directory Component CreateFolder MsiLockPermissionsEx InstallExecuteSequence; do
    echo "-- $t"
    cat "$work/$t.idt"
done

msiinfo suminfo "$msi" | grep -qx 'Template: x64;1033' || fail "not a 64-bit package"
[ "$(cell "$msi" Property ProductVersion 2)" = "$version" ] || fail "ProductVersion is not $version"
# The program's version resource names the same version (UTF-16 strings in the .exe).
for field in FileVersion ProductVersion; do
    [ "$(x86_64-w64-mingw32-strings -el "$package_dir/uxlink.exe" | grep -x -A1 "$field" | tail -n1)" = "$version.0" ] ||
        fail "uxlink.exe's $field is not $version.0"
done
[ "$(cell "$msi" Property ALLUSERS 2)" = 1 ] || fail "not per machine"
[ "$(cell "$msi" Property MSIRESTARTMANAGERCONTROL 2)" = Disable ] || fail "Restart Manager not disabled"
[ "$(cell "$msi" Property REBOOT 2)" = ReallySuppress ] || fail "the installer may restart the machine"
[ "$(cell "$msi" Directory INSTALLFOLDER 2)" = ProgramFiles64Folder ] || fail "not under Program Files"
[ "$(cell "$msi" Directory LOGFOLDER 3)" = Logs ] && [ "$(cell "$msi" Directory PRODUCTDATAFOLDER 2)" = CommonAppDataFolder ] ||
    fail "no log folder under ProgramData"
(( $(cell "$msi" Component LogFolder 4) & 16 )) || fail "the log folder's component is not permanent"
sequence() { cell "$msi" InstallExecuteSequence "$1" 3; }
(( $(sequence InstallValidate) < $(sequence RemoveExistingProducts) &&
   $(sequence RemoveExistingProducts) < $(sequence InstallInitialize) )) ||
    fail "an older product is not removed between InstallValidate and InstallInitialize"

# The log folder's SDDL: protected from what ProgramData hands down; LocalSystem and the
# Administrators full control; Authenticated Users' rights are asked of AccessCheck below.
# A file's creator (OWNER RIGHTS) gets no more than they do on files: read and append.
[ "$(cell "$msi" MsiLockPermissionsEx LogFolderPermissions 2)" = LOGFOLDER ] &&
[ "$(cell "$msi" MsiLockPermissionsEx LogFolderPermissions 3)" = CreateFolder ] || fail "no permissions on the log folder"
sddl=$(cell "$msi" MsiLockPermissionsEx LogFolderPermissions 4)
[[ $sddl == D:P\(* ]] || fail "the log folder's DACL inherits from ProgramData: $sddl"
ace_mask() { grep -o "(A;$1;[^;]*;;;$2)" <<<"$sddl" | cut -d';' -f3; }
for trustee in SY BA; do
    [ "$(ace_mask OICI "$trustee")" = FA ] || fail "$trustee has no full control: $sddl"
done
[ "$(ace_mask OIIO OW)" = "$(ace_mask OIIO AU)" ] || fail "a file's creator gets other rights than Authenticated Users: $sddl"
[ "$(grep -o '(' <<<"$sddl" | wc -l)" = 5 ] || fail "unexpected ACEs: $sddl"

# --- The signatures ---------------------------------------------------------------------

step "signatures"
# The throw-away test certificate is its own root; a release certificate chains to the
# machine's roots.
trust=()
[ -n "${UXLINK_SIGN_CERT:-}" ] || trust=(-CAfile "$test_cert_dir/cert.pem")
msiextract -C "$work/extracted" "$msi" >/dev/null
packaged_exe="$work/extracted/Quorvix Remote/uxlink.exe"
cmp "$packaged_exe" "$package_dir/uxlink.exe" || fail "the package does not hold the signed uxlink.exe"
for f in "$package_dir/uxlink.exe" "$msi"; do
    osslsigncode verify "${trust[@]}" -in "$f" >"$work/verify.txt" 2>&1 || { cat "$work/verify.txt"; fail "$f: signature"; }
    grep -E 'Message digest algorithm|Signature verification|Text description|Subject:' "$work/verify.txt" | sort -u
    grep -q 'Message digest algorithm *: SHA256' "$work/verify.txt" || fail "$f is not signed with SHA-256"
done

# --- Under Wine -------------------------------------------------------------------------

export WINEPREFIX="$work/wine"
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
bridges=()
cleanup() {
    set +e
    for pid in "${bridges[@]}"; do kill "$pid" 2>/dev/null; done
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

installed_exe="$WINEPREFIX/drive_c/Program Files/Quorvix Remote/uxlink.exe"
log_folder="$WINEPREFIX/drive_c/ProgramData/QuorvixRemote/Logs"

# wine hands on an exit code modulo 256, as every Unix process does.
ERROR_SUCCESS_REBOOT_REQUIRED=$((3010 % 256))
ERROR_INSTALL_FAILURE=$((1603 % 256))
# Each run leaves its verbose log in the work folder, for when it fails.
msiexec_runs=0
msiexec() {
    msiexec_runs=$((msiexec_runs + 1))
    wine msiexec "$@" /qn /l*v "$(windows_path "$work/msiexec-$msiexec_runs.log")"
}
windows_path() { winepath -w "$1" 2>/dev/null; }
# The products registered under our name, as "version" lines.
registered_versions() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
        awk -v name="$product_name" '/^HKEY/ { found = 0 } $1 == "DisplayName" && substr($0, index($0, "REG_SZ") + 10) == name { found = 1 }
                                     found && $1 == "DisplayVersion" { print $3 }'
}
expect_registered() { [ "$(registered_versions)" = "$1" ] || fail "registered: '$(registered_versions)', expected '$1'"; }

# The installed bridge, one at a time, started as the service side does; the marker goes
# in as its version.
start_bridge() {
    setsid wine 'C:\Program Files\Quorvix Remote\uxlink.exe' "-name=Quorvix Remote" "-version=$1" -pid=0 \
        -hellomsg= -rebranded=0 </dev/null >"$work/bridge-$1.out" 2>&1 &
    bridges+=($!)
}
# The Windows pid of the bridge started with the marker, read from the " cmdln: " line it
# logs, which also shows the installed path it runs from.
bridge_pid() {
    for _ in $(seq 300); do
        local line
        line=$(cat "$log_folder"/QX_PIPE_BRIDGE_*.log 2>/dev/null | tr -d '\r' |
               grep -a -F ' cmdln: ' | grep -a -F -- "-version=$1" | head -n1 || true)
        if [ -n "$line" ]; then
            grep -q -F 'C:\Program Files\Quorvix Remote\uxlink.exe' <<<"$line" || fail "bridge not started from its installed path: $line"
            sed -E 's/^\xEF\xBB\xBF//; s/^<([0-9]+)>.*/\1/' <<<"$line"
            return
        fi
        sleep 0.1
    done
    fail "the bridge started as $1 logged nothing into $log_folder"
}
stop_bridge() {
    service_client "$1" REQCPIPE >/dev/null || fail "bridge $1 did not take REQCPIPE"
    wait "${bridges[0]}" || fail "bridge $1 ended with exit code $?"
    bridges=()
}
service_client() { wine "$build_dir/bin/service_client.exe" "$@"; }
expect_serving() {
    service_client "$1" SUINFO >"$work/answer.txt" || fail "bridge $1 does not answer"
    grep -q '"command":"Result".*"nome_utente"' "$work/answer.txt" || fail "bridge $1's answer: $(cat "$work/answer.txt")"
}

step "fresh prefix"
mkdir -p "$WINEPREFIX"
# A persistent server keeps each wine call fast; cleanup ends it.
wineserver -p
wineboot --init >"$work/wineboot.log" 2>&1

step "the log folder's permissions for Authenticated Users, as AccessCheck answers"
# Each MASK:VERDICT is asked of Windows' AccessCheck for a member of Authenticated Users
# who is no administrator (access_check.exe).
expect_rights() {
    local descriptor=$1 masks=() expected=() got
    shift
    for right in "$@"; do
        masks+=("${right%:*}")
        expected+=("${right#*:}")
    done
    got=$(wine "$build_dir/bin/access_check.exe" "O:SYG:SY$descriptor" "${masks[@]}" | tr -d '\r' | tr '\n' ' ')
    [ "$got" = "${expected[*]} " ] || fail "for $* in $descriptor: $got"
}
# The folder: list, create files, traverse, read; no folders, no deleting what is in it,
# no deleting it, no changing its permissions or owner.
expect_rights "$sddl" 0x1:granted 0x2:granted 0x20:granted 0x120089:granted \
    0x4:denied 0x40:denied 0x10000:denied 0x40000:denied 0x80000:denied
# A file in it inherits the ACEs marked for objects (OI), as Windows hands them down: read
# and append; no writing over or truncating, no deleting, no attributes, permissions or owner.
file_sddl="D:P$(grep -o '([^)]*)' <<<"$sddl" | awk -F';' '$2 ~ /OI/ { printf "%s;ID;%s;;;%s", $1, $3, $6 }')"
expect_rights "$file_sddl" 0x120089:granted 0x4:granted \
    0x2:denied 0x10000:denied 0x100:denied 0x40000:denied 0x80000:denied

step "install"
msiexec /i "$(windows_path "$msi")" || fail "install: exit $?"
cmp "$installed_exe" "$package_dir/uxlink.exe" || fail "installed uxlink.exe is not the packaged one"
[ -d "$log_folder" ] || fail "no log folder"
expect_registered "$version"

step "the installed bridge logs into the installed folder and serves"
start_bridge "$version"
old_pid=$(bridge_pid "$version")
expect_serving "$old_pid"

step "the same package again"
msiexec /i "$(windows_path "$msi")" || fail "second install: exit $?"
cmp "$installed_exe" "$package_dir/uxlink.exe" || fail "the second install changed uxlink.exe"
expect_registered "$version"

step "a higher version, while the bridge runs"
IFS=. read -r major minor patch <<<"$version"
higher="$major.$minor.$((patch + 1))"
highest="$major.$minor.$((patch + 2))"
for v in "$higher" "$highest"; do
    bash "$here/make-package.sh" "$build_dir/bin/uxlink.exe" "$v" "$work/$v" "$test_cert_dir" 2>/dev/null
done
cmp -s "$work/$higher/uxlink.exe" "$package_dir/uxlink.exe" && fail "the higher version's uxlink.exe cannot be told apart"
# The running bridge's file cannot be written: Windows Installer, and Wine's as well, puts
# the new one beside it and names both in PendingFileRenameOperations, for the next restart.
msiexec /i "$(windows_path "$work/$higher/uxlink.msi")" && rc=0 || rc=$?
[ "$rc" = 0 ] || [ "$rc" = "$ERROR_SUCCESS_REBOOT_REQUIRED" ] || fail "upgrade: exit $rc"
expect_registered "$higher"
expect_serving "$old_pid"
if ! cmp -s "$installed_exe" "$work/$higher/uxlink.exe"; then
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations |
        grep -q -F 'C:\Program Files\Quorvix Remote\uxlink.exe' || fail "the new uxlink.exe is neither installed nor pending"
fi

step "after the restart the next start runs the new version"
stop_bridge "$old_pid"
wineboot --restart >>"$work/wineboot.log" 2>&1
cmp "$installed_exe" "$work/$higher/uxlink.exe" || fail "after the restart uxlink.exe is still the old one"
start_bridge "$higher"
new_pid=$(bridge_pid "$higher")
expect_serving "$new_pid"

step "a higher version while no bridge runs replaces the file at once"
stop_bridge "$new_pid"
msiexec /i "$(windows_path "$work/$highest/uxlink.msi")" || fail "upgrade: exit $?"
expect_registered "$highest"
cmp "$installed_exe" "$work/$highest/uxlink.exe" || fail "the upgrade did not replace uxlink.exe"

step "an older version is refused"
msiexec /i "$(windows_path "$msi")" && rc=0 || rc=$?
[ "$rc" = "$ERROR_INSTALL_FAILURE" ] || fail "the older package over the newer one: exit $rc"
expect_registered "$highest"
cmp "$installed_exe" "$work/$highest/uxlink.exe" || fail "the refused downgrade changed uxlink.exe"

step "uninstall keeps the logs"
msiexec /x "$(windows_path "$work/$highest/uxlink.msi")" || fail "uninstall: exit $?"
[ ! -e "$installed_exe" ] || fail "uxlink.exe is still installed"
[ ! -e "$(dirname "$installed_exe")" ] || fail "the program folder is still there"
ls "$log_folder"/QX_PIPE_BRIDGE_*.log >/dev/null 2>&1 || fail "uninstall removed the logs"
grep -a -q -F "<$old_pid>" "$log_folder"/QX_PIPE_BRIDGE_*.log || fail "the first bridge's lines are gone"
expect_registered ""

step "package test passed"
