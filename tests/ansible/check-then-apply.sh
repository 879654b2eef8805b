#!/bin/sh
# Proves the README's Ansible recipe (snapreserve.yml, its stand-in form) with
# a real ansible-playbook run on a sample stand-in machine:
#   check-then-apply.sh SNAPRESERVE SIM_DIR
# A pass in check mode changes nothing; the first real pass stores 30% and
# restarts the monitor once; the second pass finds it in effect, changes
# nothing and restarts nothing; after a request that ended with 7 (the
# monitor did not start again), the next pass runs the request again.
set -eu
tool=$1
sim=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d /tmp/snapreserve-ansible-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
machine="$scratch/machine"
"$here/../../scripts/sample-machine.sh" "$machine" "$sim"
mkdir "$scratch/work"
printf '%s\n' '[stand_in]' \
  "localhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3" \
  > "$scratch/inventory"
# Ansible wants a UTF-8 locale, which a bare container may not set.
export LC_ALL=C.UTF-8
export ANSIBLE_NOCOLOR=1 ANSIBLE_HOME="$scratch/ansible" ANSIBLE_LOCAL_TEMP="$scratch/tmp"
export ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_DEPRECATION_WARNINGS=0

play() {  # play EXPECTED_RECAP [ansible-playbook options]: runs one pass
  expected=$1
  shift
  ansible-playbook -i "$scratch/inventory" "$here/snapreserve.yml" \
    -e "snapreserve=$tool velmora_root=$machine work_dir=$scratch/work" "$@" \
    > "$scratch/pass.log" 2>&1 || { cat "$scratch/pass.log"; echo "ansible-playbook failed"; exit 1; }
  grep -q "localhost *: ok=[0-9]* *changed=$expected " "$scratch/pass.log" ||
    { cat "$scratch/pass.log"; echo "expected changed=$expected"; exit 1; }
}
policy() { grep -a -A2 'Velmora\\2.0\\Policies\]' "$machine/system.reg" | tr -d '\r'; }

before=$(policy)
play 0 --check
[ "$(policy)" = "$before" ] || { echo "check mode changed the policy"; exit 1; }
[ ! -e "$machine/service.log" ] || { echo "check mode touched the monitor"; exit 1; }

play 1
policy | grep -q '"MinFreespacePerPoolPercent"=dword:00000bb8' ||
  { policy; echo "30% not stored"; exit 1; }
record=$(cat "$machine/service.log")
[ "$record" = "STOP VLMRMON
START VLMRMON MinFreespacePerPoolPercent=3000 MinFreespacePerPool=none" ] ||
  { echo "monitor record after the first pass: $record"; exit 1; }
grep -q '"msg": "percentage, status 0"' "$scratch/pass.log" ||
  { cat "$scratch/pass.log"; echo "the check's report was not read"; exit 1; }

play 0
[ "$(cat "$machine/service.log")" = "$record" ] ||
  { echo "the second pass restarted the monitor"; exit 1; }
grep -q '"msg": "percentage, status 8"' "$scratch/pass.log" ||
  { cat "$scratch/pass.log"; echo "the second pass's check did not say 8"; exit 1; }

# A request whose monitor does not start again ends with 7; the next pass
# runs the request again, and the monitor comes back.
monitor=$(find "$machine/drive_c" -name vlmrmon.exe)
mv "$monitor" "$monitor.off"
status=0
(cd "$scratch/work" && VELMORA_ROOT="$machine" "$tool" 30 > /dev/null) || status=$?
[ "$status" = 7 ] || { echo "a request whose monitor did not start ended with $status"; exit 1; }
mv "$monitor.off" "$monitor"
play 1
[ "$(cat "$machine/services/VLMRMON")" = RUNNING ] || { echo "the monitor did not come back"; exit 1; }
grep -q '"msg": "percentage, status 0"' "$scratch/pass.log" ||
  { cat "$scratch/pass.log"; echo "the pass after a 7 did not run the request"; exit 1; }
echo "check mode, a first pass that stores and restarts, a second that changes nothing," \
  "a pass after a 7 that starts the monitor again"
