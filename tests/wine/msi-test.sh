#!/bin/sh
# A Windows build's MSI under Wine, in PREFIX as prepare-prefix.sh lays it out ($WINE as there),
# and a signed build's signatures:  msi-test.sh PREFIX SIM_DIR BUILD_DIR ARCH VERSION [SKIP_REASON]
set -eu
[ -z "${6:-}" ] || { echo "Skipped: $6"; exit 77; }
prefix=$1 sim=$2 build=$3 arch=$4 version=$5 newer=$(echo "$5" | awk -F. '{print $1 "." $2 + 1 "." $3}')
here=$(cd "$(dirname "$0")" && pwd) && source=$(dirname "$(dirname "$here")") && tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$here/prepare-prefix.sh" --stop "$prefix"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
msi=snapreserve-$version-windows-$arch.msi
[ -f "$build/$msi" ] || fail "no $msi: cmake --build --preset windows-$arch --target msi"

# A throwaway CA's code-signing certificate signs a build of VERSION $newer, as all of it says: its program (in
# the ZIP and MSI too) and MSI verify, changed not; a bad certificate, key or chain stops it, leaving no package.
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$tmp/ext" && echo extendedKeyUsage=timeStamping > "$tmp/stamp"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/ca.key" -out "$tmp/ca.pem" -subj /CN=CA 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$tmp/key.pem" -subj /CN=snapreserve -out "$tmp/csr" 2>/dev/null
for cert in "cert.pem ext" "stamp stamp" "expired ext -days -1"; do set -- $cert
  openssl x509 -req -in "$tmp/csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -extfile "$tmp/$2" -out "$tmp/$1" ${3:-} ${4:-} 2>/dev/null
done
s=$tmp/signed && mkdir "$tmp/src" && (cd "$source" && tar --exclude=./.git --exclude='./build*' -cf - .) | tar -C "$tmp/src" -xf -
sed -i "s/^project(snapreserve VERSION [0-9.]*/project(snapreserve VERSION $newer/" "$tmp/src/CMakeLists.txt"
sign() { c=$1 k=$2 h=$3 && shift 3 && cmake -S "$tmp/src" "$@" -B "$s" -DSNAPRESERVE_SIGN_CERT="$tmp/$c" \
  -DSNAPRESERVE_SIGN_KEY="$tmp/$k" -DSNAPRESERVE_SIGN_CHAIN="$tmp/$h" 2>&1 >/dev/null; }
sign cert.pem key.pem ca.pem --preset "windows-$arch" | grep SNAPRESERVE_SIGN_TIMESTAMP >/dev/null || fail "no warning of lapsing signatures"
cmake --build "$s" --target msi >/dev/null && cp "$s/snapreserve-$newer-windows-$arch.msi" "$tmp/$newer.msi" || fail "no $newer"
(cd "$s" && cpack >/dev/null && mkdir zip && cd zip && cmake -E tar xf ../snapreserve-$newer-windows-$arch.zip)
msiextract -C "$s/msi" "$tmp/$newer.msi" >/dev/null && cp "$s/snapreserve.exe" "$tmp/$newer.exe"
for f in "$s/snapreserve.exe" "$s/zip/snapreserve.exe" "$(find "$s/msi" -name snapreserve.exe)" "$tmp/$newer.msi"; do
  osslsigncode verify -CAfile "$tmp/ca.pem" -in "$f" >/dev/null || fail "$f is not signed"
done
sh "$here/check-program.sh" "$s/snapreserve.exe" "$newer" && msiinfo export "$tmp/$newer.msi" Property |
  grep -qx "ProductVersion	$newer.\?" && msiinfo export "$tmp/$newer.msi" File | grep -q "	$newer.0	1033	" &&
  grep -q "\"version\": {\"const\": \"${newer%.*}\"}" "$s/snapreserve-report.schema.json" || fail "not all $newer"
byte=$(od -An -tu1 -j4096 -N1 "$s/snapreserve.exe")
printf "\\$(printf %o $((255 - byte)))" | dd of="$s/snapreserve.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile "$tmp/ca.pem" -in "$s/snapreserve.exe" >/dev/null 2>&1 || fail "changed, it verifies"
while read -r cert key chain why; do
  sign $cert $key $chain >/dev/null && ! cmake --build "$s" --target snapreserve > "$tmp/out" 2>&1 &&
    grep -q "sign.sh: .*$why" "$tmp/out" && [ -z "$(ls "$s"/*.exe "$s"/*.[mz][si]? 2>/dev/null)" ] || fail "$why: $(cat "$tmp/out")"
done <<EOF
stamp key.pem ca.pem is not for code signing (its extended key usage: Time Stamping)
expired key.pem ca.pem expired on
cert.pem ca.key ca.pem is not the private key of
cert.pem key.pem cert.pem does not verify against
ca.pem ca.key ca.pem is a certificate authority's
EOF

[ -f "$prefix.clean" ] || rm -rf "$prefix"  # a failed run may have left the package installed
rm -f "$prefix.clean" && "$here/prepare-prefix.sh" "$prefix" "$sim"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
[ -z "${WINE:-}" ] || export WINELOADER="$WINE"
wine=${WINE:-wine} c=$prefix/drive_c default='C:\Program Files\Halvorn\snapreserve'
[ "$arch" = x64 ] || default='C:\Program Files (x86)\Halvorn\snapreserve'
files() { echo "$c/$(echo "${1#C:\\}" | tr '\\' /)"; } && env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
q() { "$wine" reg query "$@" 2>&1 | tr -d '\r'; }
run() {  # cmd.exe runs $1 in C:\msi-test, then prints its %ERRORLEVEL%
  printf '@echo off\r\ncd /d C:\\msi-test\r\n%s\r\necho status %%ERRORLEVEL%%\r\n' "$1" > "$c/msi-test/run.bat"
  "$wine" cmd /c 'C:\msi-test\run.bat' | tr -d '\r'
}
entries() {  # each snapreserve in Apps & features: its version, publisher and folder
  for view in 32 64; do q 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$view; done |
    awk '/^HKEY/ {n = v = p = l = ""} {x = $0; sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, "", x)} $1 == "DisplayName" && x == "snapreserve" {n = 1}
         $1 == "DisplayVersion" {v = x} $1 == "Publisher" {p = x} $1 == "InstallLocation" {l = x} n && v && p && l {print v, p, l; n = ""}'
}
path() { q "$env" /v PATH | sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | grep -v '^$'; }  # no ';' Wine leaves
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
while read -r package status listed place properties; do  # each install, its status, the entry listed, its folder
  folder=${place:-$default} files=$(files "${place:-$default}") exe=$tmp/$newer.exe && [ "$listed" != "$version" ] || exe=$build/snapreserve.exe
  [ "$(run "msiexec /i $package.msi /qn $properties")" = "status $status" ] || fail "msiexec /i $package.msi $properties: not $status"
  [ "$listed" != none ] || { state | diff "$tmp/before" - && [ ! -e "$files" ] || fail "left after REMOVE=ALL"; continue; }
  [ "$(entries)" = "$listed Halvorn Corporation $folder\\" ] || fail "after $package.msi, Apps & features lists: $(entries)"
  [ "$(ls "$files" | tr '\n' ' ')" = "LICENSE README.md snapreserve.exe " ] &&
    cmp "$exe" "$files/snapreserve.exe" || fail "after $package.msi: $(ls "$files")"
  [ "$folder" = "$default" ] || [ "$(state | grep '^Program Files')" = "$(grep '^Program Files' "$tmp/before")" ] || fail "$folder, and in Program Files: $(state)"
  q 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\snapreserve' > "$tmp/source"
  grep -qxF "    EventMessageFile    REG_EXPAND_SZ    $folder\\snapreserve.exe" "$tmp/source" &&
    grep -qxF '    TypesSupported    REG_DWORD    0x7' "$tmp/source" || fail "event source: $(cat "$tmp/source")"
  [ "$(path | grep -cxF "$folder\\")" = 1 ] && [ "$(path | tail -n 1)" = "$folder\\" ] || fail "$folder not last on PATH"
  "$wine" reg add "$env" /v PATH /t REG_EXPAND_SZ /d "$(path | paste -sd ';')" /f >/dev/null  # for Wine's cmd
  version_text=$(printf 'snapreserve Version %s.\nCopyright (C) Halvorn Corporation.\nAll rights reserved.\nstatus -2' "${listed%.*}")
  [ "$(run 'snapreserve --version')" = "$version_text" ] || fail "through PATH: $(run 'snapreserve --version')"
done <<EOF
$version 0 $version C:\\Tools\\snap INSTALLDIR=C:\\Tools\\snap\\
$newer 0 $newer C:\\Tools\\snap
$newer 0 $newer C:\\Tools\\snap REINSTALL=ALL REINSTALLMODE=amus
$newer 0 none C:\\Tools\\snap REMOVE=ALL
$version 0 $version
rebuilt 0 $version
$newer 0 $newer
$version 1603 $newer
EOF
# The 32-bit package is refused while the 64-bit one is installed (and the other way round).
other=$(dirname "$build")/windows-x86/snapreserve-$version-windows-x86.msi
if [ "$arch" = x64 ] && [ -f "$other" ]; then
  cp "$other" "$c/msi-test/other.msi"
  [ "$(run "msiexec /i other.msi /qn")" = "status 1603" ] && [ "$(entries)" = "$newer Halvorn Corporation $folder\\" ] ||
    fail "the other architecture's package went in beside this one: $(entries)"
fi
run 'snapreserve --json --show' | grep -qx "  \"version\": \"${newer%.*}\"," || fail "JSON version not ${newer%.*}"
run 'snapreserve 30' > "$tmp/request"
grep -qx 'New allocated percentage of pool free space reserved for snapshots is 30%.' "$tmp/request" &&
  [ "$(tail -n 1 "$tmp/request")" = "status 0" ] || fail "snapreserve 30: $(cat "$tmp/request")"
q 'HKLM\SOFTWARE\Halvorn' /s /reg:32 | grep -v -e snapreserve -e '^$' > "$tmp/product"
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
q 'HKLM\SOFTWARE\Halvorn' /s /reg:32 | grep -v -e snapreserve -e '^$' | diff "$tmp/product" - || fail "the uninstall changed the product's keys"
touch "$prefix.clean"
