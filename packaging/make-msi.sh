#!/bin/sh
# Builds the Windows Installer package of snapreserve from a built program:
#   packaging/make-msi.sh OUTPUT.msi VERSION ARCH EXE SOURCE_DIR
# VERSION is the package's major.minor.build (1.5.0), ARCH x86 or x64, EXE the
# snapreserve.exe to install; README.md and LICENSE come from SOURCE_DIR.
# Debian's wixl builds the package from snapreserve.wxs; msibuild then adds
# what that wixl (0.101, Debian 12) cannot write:
#   - the Environment table, which appends the folder to the system PATH and
#     takes it off again on uninstall, with its two actions;
#   - the program's version in the File table (read from its version
#     resource, which must be VERSION's), so that Windows Installer compares
#     versions, not hashes, and detection rules see it;
#   - the removal of the Halvorn folder above the default one, once emptied
#     (wixl removes only a component's own folder);
#   - INSTALLDIR among the properties passed to the installing service;
#   - the feature's Absent="disallow";
#   - same-version upgrades (AllowSameVersionUpgrades in WiX): the Upgrade row
#     that finds the installed versions to remove also takes in this version,
#     so a rebuild of it replaces the installed one instead of going beside it.
set -eu
[ $# -eq 5 ] || { echo "usage: make-msi.sh OUTPUT.msi VERSION ARCH EXE SOURCE_DIR" >&2; exit 2; }
for tool in wixl msibuild msiinfo; do
  command -v $tool >/dev/null ||
    { echo "make-msi.sh: $tool is missing: scripts/install-deps.sh test installs it" >&2; exit 1; }
done
out=$1 version=$2 arch=$3 exe=$4 source=$5
here=$(cd "$(dirname "$0")" && pwd)
stage="$out.files"
rm -rf "$stage" "$out"
mkdir -p "$stage"
exe_version=$(sh "$here/file-version.sh" "$exe")
[ "$exe_version" = "$version.0" ] ||
  { echo "make-msi.sh: $exe is version $exe_version, not $version.0" >&2; exit 1; }
cp "$exe" "$stage/snapreserve.exe" && cp "$source/README.md" "$source/LICENSE" "$stage/"
# wixl takes the files from the folder it runs in.
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D Arch="$arch" -o package.msi \
  "$here/snapreserve.wxs")

msi="$stage/package.msi"
property() { msiinfo export "$msi" Property | sed -n "s/^$1\t//p" | tr -d '\r'; }
upgrade_code=$(property UpgradeCode) secure=$(property SecureCustomProperties)
# The folder goes last on PATH, "[~];folder", after the system's own folders:
# Windows takes ";folder" off again; Wine leaves the ';' (HACKING.md).
msibuild "$msi" -i "$here/Environment.idt" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
# The Upgrade table's key holds its attributes, so the row is replaced: 513 is
# msidbUpgradeAttributesMigrateFeatures with VersionMaxInclusive. The one
# feature cannot be left out (Absent="disallow", which wixl does not write:
# msidbFeatureAttributesUIDisallowAbsent, 16).
# The File table's Language is the version resource's (0x409); a versioned
# file has no hash (MsiFileHash is for unversioned files alone).
msibuild "$msi" \
  -q "UPDATE File SET Version = '$exe_version', Language = '1033' WHERE File = 'snapreserve.exe'" \
  -q "DELETE FROM MsiFileHash WHERE File_ = 'snapreserve.exe'" \
  -q "UPDATE RemoveFile SET DirProperty = 'VendorFolder' WHERE FileKey = 'VendorFolder'" \
  -q "UPDATE Property SET Value = '$secure;INSTALLDIR' WHERE Property = 'SecureCustomProperties'" \
  -q "UPDATE Feature SET Attributes = 16 WHERE Feature = 'Complete'" \
  -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" \
  -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
mv "$msi" "$out"
rm -rf "$stage"
