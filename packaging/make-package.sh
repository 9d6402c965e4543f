#!/usr/bin/env bash
# Builds the signed uxlink.msi around a signed copy of uxlink.exe.
# Usage: make-package.sh EXE VERSION OUT_DIR TEST_CERT_DIR
# Leaves OUT_DIR/uxlink.exe and OUT_DIR/uxlink.msi; signing as sign.sh says.
set -euo pipefail

exe=$1
version=$2
out_dir=$3
test_cert_dir=$4
here=$(dirname "$(realpath "$0")")
description="Quorvix Remote session bridge $version"

mkdir -p "$out_dir"
cp "$exe" "$out_dir/uxlink.exe"
bash "$here/sign.sh" "$out_dir/uxlink.exe" "$description" "$test_cert_dir"

msi="$out_dir/uxlink.msi"
rm -f "$msi"
# wixl finds a source file only by a relative path.
(cd "$out_dir" && wixl --arch x64 -D Version="$version" -D Exe=uxlink.exe -o uxlink.msi "$here/uxlink.wxs")

# What wixl does not write:
# - The log folder's permissions, as SDDL (MsiLockPermissionsEx), protected from what
#   ProgramData hands down (CREATOR OWNER full control would let a user delete the logs).
#   LocalSystem and the Administrators: full control of the folder and all below it.
#   Authenticated Users: on the folder list, read, traverse and create files (0x1200AB);
#   on each file read and append (0x12008D), no write over, no delete. OWNER RIGHTS gets
#   the same on files, so the user whose bridge created a day's file cannot change its
#   permissions, rewrite or delete it either.
# - The log folder's component is permanent (16 | 256 for 64-bit): uninstall leaves it.
# - Rebuilding the same version makes a new product code, so the same version upgrades
#   too (VersionMax inclusive, 512), instead of installing a second copy beside it.
log_folder_sddl='D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200AB;;;AU)(A;OIIO;0x12008D;;;AU)(A;OIIO;0x12008D;;;OW)'
msibuild "$msi" -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
msibuild "$msi" -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDLText\`) VALUES ('LogFolderPermissions', 'LOGFOLDER', 'CreateFolder', '$log_folder_sddl')"
msibuild "$msi" -q "UPDATE \`Component\` SET \`Attributes\` = 272 WHERE \`Component\` = 'LogFolder'"
upgrade_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
msibuild "$msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"

bash "$here/sign.sh" "$msi" "$description" "$test_cert_dir"
