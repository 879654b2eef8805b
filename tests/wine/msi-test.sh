#!/bin/sh
# A Windows build's MSI under Wine, in PREFIX as prepare-prefix.sh lays it out ($WINE as there),
# and a signed build of a raised version, its signatures and its version everywhere:
#   msi-test.sh PREFIX SIM_DIR BUILD_DIR ARCH VERSION [SKIP_REASON]
set -eu
[ -z "${6:-}" ] || { echo "Skipped: $6"; exit 77; }
prefix=$1 sim=$2 build=$3 arch=$4 version=$5 newer=$(echo "$5" | awk -F. '{print $1 "." $2 + 1 "." $3 + 1}')
here=$(cd "$(dirname "$0")" && pwd) && source=$(dirname "$(dirname "$here")") && tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$here/prepare-prefix.sh" --stop "$prefix"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
msi=snapreserve-$version-windows-$arch.msi
[ -f "$build/$msi" ] || fail "no $msi: cmake --build --preset windows-$arch --target msi"

# The source with project(VERSION) raised to $newer, built and signed with a throwaway CA's
# code-signing certificate: its program (in the ZIP and the MSI too) and its MSI verify, and the
# program's version resource and manifest, its MSI's and ZIP's names, the MSI's ProductVersion and
# File table, and the JSON report's schema all carry the raised version (--version and the JSON
# report under Wine, below). With one byte changed, the program does not verify.
src=$tmp/raised s=$tmp/signed nmsi=snapreserve-$newer-windows-$arch.msi && mkdir "$src"
(cd "$source" && tar --exclude=./.git --exclude='./build*' -cf - .) | tar -C "$src" -xf -
sed -i "s/^project(snapreserve VERSION [0-9.]* /project(snapreserve VERSION $newer /" "$src/CMakeLists.txt"
issue() {  # issue NAME CA EXTENSIONS [OPENSSL X509 OPTIONS]: NAME.pem, with key.pem's key, from CA
  name=$1 ca=$2 && printf "$3" > "$tmp/ext" && shift 3
  openssl req -newkey rsa:2048 -nodes -keyout "$tmp/key.pem" -subj /CN=snapreserve 2>/dev/null | openssl x509 \
    -req -CA "$tmp/$ca.pem" -CAkey "$tmp/$ca.key" -extfile "$tmp/ext" -out "$tmp/$name.pem" "$@" 2>/dev/null
}
for ca in ca other-ca; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/$ca.key" -out "$tmp/$ca.pem" -subj /CN=$ca 2>/dev/null
done
issue timestamping ca 'extendedKeyUsage=timeStamping\n' && issue expired ca 'extendedKeyUsage=codeSigning\n' -days -1
issue cert ca 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
sign() {  # sign CERT KEY CHAIN [CMAKE OPTION...]: configures the raised build to sign so
  cert=$1 key=$2 chain=$3 && shift 3
  cmake -S "$src" -B "$s" "$@" -DSNAPRESERVE_SIGN_CERT="$tmp/$cert" -DSNAPRESERVE_SIGN_KEY="$tmp/$key" \
    -DSNAPRESERVE_SIGN_CHAIN="$tmp/$chain" >/dev/null 2>"$tmp/configured"
}
sign cert.pem key.pem ca.pem --preset "windows-$arch" && cmake --build "$s" --target msi >/dev/null
grep -q 'SNAPRESERVE_SIGN_TIMESTAMP is not set' "$tmp/configured" || fail "no warning of a signature that lapses"
(cd "$s" && cpack >/dev/null && mkdir zip && cd zip && cmake -E tar xf "../snapreserve-$newer-windows-$arch.zip")
msiextract -C "$s/msi" "$s/$nmsi" >/dev/null
for f in "$s/snapreserve.exe" "$s/zip/snapreserve.exe" "$(find "$s/msi" -name snapreserve.exe)" "$s/$nmsi"; do
  osslsigncode verify -CAfile "$tmp/ca.pem" -in "$f" >/dev/null || fail "$f is not signed"
done
sh "$here/check-program.sh" "$s/snapreserve.exe" "$newer" || fail "the raised build's program"
[ "$(msiinfo export "$s/$nmsi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')" = "$newer" ] &&
  msiinfo export "$s/$nmsi" File | grep -q "^snapreserve.exe	Program	.*	$newer.0	1033	" &&
  grep -q "\"version\": {\"const\": \"${newer%.*}\"}" "$s/snapreserve-report.schema.json" ||
  fail "$nmsi or the schema is not of version $newer: $(msiinfo export "$s/$nmsi" File)"
cp "$s/$nmsi" "$tmp/$newer.msi" && cp "$s/snapreserve.exe" "$tmp/$newer.exe"
# Signing stops before anything is signed where the certificate is not for code signing, has
# expired or is not the key's, and where a signature does not verify; no package is left.
while read -r cert key chain why; do
  sign "$cert" "$key" "$chain" && ! cmake --build "$s" --target snapreserve > "$tmp/signing" 2>&1 &&
    grep -q "sign.sh: .*$why" "$tmp/signing" && [ -z "$(ls "$s"/*.exe "$s"/*.msi "$s"/*.zip 2>/dev/null)" ] ||
    fail "signing with $cert, $key against $chain: $(cat "$tmp/signing")"
done <<EOF
timestamping.pem key.pem ca.pem is not for code signing (its extended key usage: Time Stamping)
expired.pem key.pem ca.pem expired on
cert.pem ca.key ca.pem is not the private key of
cert.pem key.pem other-ca.pem does not verify against
EOF
cp "$tmp/$newer.exe" "$tmp/changed.exe" && byte=$(od -An -tu1 -j4096 -N1 "$tmp/changed.exe")
printf "\\$(printf %o $((255 - byte)))" | dd of="$tmp/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile "$tmp/ca.pem" -in "$tmp/changed.exe" >/dev/null 2>&1 || fail "changed, it verifies"

[ -f "$prefix.clean" ] || rm -rf "$prefix"  # a failed run may have left the package installed
rm -f "$prefix.clean" && "$here/prepare-prefix.sh" "$prefix" "$sim"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
[ -z "${WINE:-}" ] || export WINELOADER="$WINE"
wine=${WINE:-wine} c=$prefix/drive_c default='C:\Program Files\Halvorn\snapreserve'
[ "$arch" = x64 ] || default='C:\Program Files (x86)\Halvorn\snapreserve'
env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
q() { "$wine" reg query "$@" 2>&1 | tr -d '\r'; }
run() {  # cmd.exe runs $1 in C:\msi-test, then prints its %ERRORLEVEL%
  printf '@echo off\r\ncd /d C:\\msi-test\r\n%s\r\necho status %%ERRORLEVEL%%\r\n' "$1" > "$c/msi-test/run.bat"
  "$wine" cmd /c 'C:\msi-test\run.bat' | tr -d '\r'
}
on_disk() { echo "$c/$(echo "${1#C:\\}" | tr '\\' /)"; }
entries() {  # each snapreserve in Apps & features: its version, publisher and folder
  for view in 32 64; do q 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$view; done |
    awk '/^HKEY/ {n = v = p = l = ""} {x = $0; sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, "", x)}
         $1 == "DisplayName" && x == "snapreserve" {n = 1} $1 == "DisplayVersion" {v = x}
         $1 == "Publisher" {p = x} $1 == "InstallLocation" {l = x} n && v && p && l {print v, p, l; n = ""}'
}
path() {  # the system PATH's entries, one a line: Wine leaves a ';' behind where Windows does not
  q "$env" /v PATH | sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | grep -v '^$'
}
state() {  # all that the package may change
  (cd "$c" && find "Program Files" "Program Files (x86)" -path '*/Velmora 2.0/*' -prune -o -print | sort)
  path && q 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application' /s && entries
}
mkdir -p "$c/msi-test" && cp "$build/$msi" "$c/msi-test/$version.msi" && cp "$tmp/$newer.msi" "$c/msi-test/"
"$wine" reg add 'HKLM\SOFTWARE\Halvorn\Corridan\Versions' /v VLMR /d 2.1.0 /reg:32 /f >/dev/null
# On Windows the Application log has other sources: this one must stay, and so must its key.
"$wine" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VLMRMON' /v TypesSupported \
  /t REG_DWORD /d 7 /f >/dev/null
printf 'Pool name  Capacity(MB)  Free(MB)\n---------  ----  ----\nPoolA  20000  8000\n' \
  > "$c/Program Files/Halvorn/Velmora 2.0/pools.txt"
state > "$tmp/before"
sh "$source/packaging/make-msi.sh" "$c/msi-test/rebuilt.msi" "$version" "$arch" "$build/snapreserve.exe" "$source"
installs() {  # each msiexec in turn, its status, the one entry then listed and the folder it is in
  while read -r status listed folder command; do
    [ "$folder" != - ] || folder=$default
    exe=$build/snapreserve.exe && [ "$listed" = "$version" ] || exe=$tmp/$newer.exe
    [ "$(run "msiexec $command /qn")" = "status $status" ] || fail "msiexec $command: not $status"
    [ "$(entries)" = "$listed Halvorn Corporation $folder\\" ] || fail "after $command, Apps & features lists: $(entries)"
    files=$(on_disk "$folder")
    [ "$(ls "$files" | tr '\n' ' ')" = "LICENSE README.md snapreserve.exe " ] &&
      cmp "$exe" "$files/snapreserve.exe" || fail "after $command, $folder holds: $(ls "$files")"
    [ "$folder" = "$default" ] || [ ! -e "$(on_disk "$default")" ] || fail "after $command, $default is made"
    q 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\snapreserve' > "$tmp/source"
    grep -qxF "    EventMessageFile    REG_EXPAND_SZ    $folder\\snapreserve.exe" "$tmp/source" &&
      grep -qxF '    TypesSupported    REG_DWORD    0x7' "$tmp/source" || fail "event source: $(cat "$tmp/source")"
    [ "$(path | grep -cxF "$folder\\")" = 1 ] && [ "$(path | tail -n 1)" = "$folder\\" ] ||
      fail "$folder not once, last, on PATH: $(path)"
    # Wine's cmd.exe looks no further on PATH than the empty entry Wine's removal leaves (HACKING.md).
    "$wine" reg add "$env" /v PATH /t REG_EXPAND_SZ /d "$(path | paste -sd ';')" /f >/dev/null
    version_text=$(printf 'snapreserve Version %s.\nCopyright (C) Halvorn Corporation.\nAll rights reserved.\nstatus -2' \
      "${listed%.*}")
    [ "$(run 'snapreserve --version')" = "$version_text" ] || fail "after $command, through PATH: $(run 'snapreserve --version')"
  done
}
# A folder chosen at install is kept by the upgrade and the repair (as REINSTALL: Wine's msiexec
# has no /f), and left on uninstall.
installs <<EOF
0 $version C:\\Tools\\snap /i $version.msi INSTALLDIR=C:\\Tools\\snap\\
0 $newer C:\\Tools\\snap /i $newer.msi
0 $newer C:\\Tools\\snap /i $newer.msi REINSTALL=ALL REINSTALLMODE=amus
EOF
[ "$(run "msiexec /x $newer.msi /qn")" = "status 0" ] || fail "msiexec /x $newer.msi from C:\\Tools\\snap"
state | diff "$tmp/before" - && [ ! -e "$c/Tools/snap" ] || fail "the uninstall from C:\\Tools\\snap left the machine changed"
installs <<EOF
0 $version - /i $version.msi
0 $version - /i rebuilt.msi
0 $newer - /i $newer.msi
1603 $newer - /i $version.msi
EOF
# The 32-bit package is refused while the 64-bit one is installed (and the other way round).
other=$(dirname "$build")/windows-x86/snapreserve-$version-windows-x86.msi
if [ "$arch" = x64 ] && [ -f "$other" ]; then
  cp "$other" "$c/msi-test/other.msi"
  [ "$(run "msiexec /i other.msi /qn")" = "status 1603" ] && [ "$(entries)" = "$newer Halvorn Corporation $default\\" ] ||
    fail "the other architecture's package went in beside this one: $(entries)"
fi
run 'snapreserve --json --show' > "$tmp/json" && grep -qx "  \"version\": \"${newer%.*}\"," "$tmp/json" ||
  fail "JSON: $(cat "$tmp/json")"
run 'snapreserve 30' > "$tmp/request"
grep -qx 'New allocated percentage of pool free space reserved for snapshots is 30%.' "$tmp/request" &&
  [ "$(tail -n 1 "$tmp/request")" = "status 0" ] || fail "snapreserve 30: $(cat "$tmp/request")"
product() {  # the product's keys, without the folder the package records beside them
  q 'HKLM\SOFTWARE\Halvorn' /s /reg:32 | awk '/^HKEY/ {skip = /\\snapreserve$/} !skip'
}
product > "$tmp/product"
grep -qxF '    MinFreespacePerPoolPercent    REG_DWORD    0xbb8' "$tmp/product" || fail "no policy stored"
# The registered message file renders every event ID, each of its seven insertions filled.
cp "$build/tests/wine/windows/argprobe.exe" "$c/msi-test/"
messages=$(q 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\snapreserve' /v EventMessageFile |
  sed -n 's/^ *EventMessageFile *REG_EXPAND_SZ *//p')
held=0 && "$wine" 'C:\msi-test\argprobe.exe' render "$messages" 100 107 > "$tmp/rendered" || held=$?
tr -d '\r' < "$tmp/rendered" > "$tmp/text" && mv "$tmp/text" "$tmp/rendered"
[ $held = 7 ] || fail "$messages holds $held of the 7 IDs: $(cat "$tmp/rendered")"
for id in 100 102 103 104 105 106 107; do
  awk -v id="$id" '$0 ~ "^" id ": " {on = 1} on {print} on && /^Exit status/ {exit}' "$tmp/rendered" |
    tr -d '\n' | grep -q "^$id: A request of <1>% .*<2>.*<3>.*<4>.*<5>.*<6>.*Exit status: <7>$" ||
    fail "event $id renders as: $(cat "$tmp/rendered")"
done
! grep -q '%[0-9]' "$tmp/rendered" || fail "an insertion left unfilled: $(cat "$tmp/rendered")"
[ "$(run "msiexec /x $newer.msi /qn")" = "status 0" ] || fail "msiexec /x $newer.msi"
state | diff "$tmp/before" - || fail "the uninstall left the machine changed (above)"
product | diff "$tmp/product" - || fail "the uninstall changed the product's keys"
touch "$prefix.clean"
