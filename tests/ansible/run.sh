#!/usr/bin/env bash
# The Ansible collection vexilware.printserver, checked with Debian's packages only (no Python
# package index): pycodestyle, yamllint, ansible-test's compile test, the modules' unit tests
# against a fake vexil-download, ansible-doc of both modules, the tarball built by
# ansible-galaxy and installed from it, and then, inside a private network namespace, the
# collection's example playbook as installed, against simulated print servers at two sites:
# check mode changes nothing, the first run brings the old print servers to the image (their
# flash equals it) and one failing print server fails its own host only, and the second run
# changes nothing; then tests/ansible/checksums.yml: a checksums file of another release sends
# nothing, the approved one lets the image go and returns its sum.
#
#   tests/ansible/run.sh BUILD_DIR        (BUILD_DIR: the Linux build, such as build)
set -euo pipefail

if [ "${1:-}" = --in-netns ]; then
    mode=integration
    shift
else
    mode=all
fi
build=$(cd "${1:?usage: tests/ansible/run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
# Debian's Python and Ansible, whatever else a developer's PATH puts first: ansible-test looks
# for every Python it supports on the PATH, and another Python has no Ansible to import.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PYTHONDONTWRITEBYTECODE=1 ANSIBLE_NOCOLOR=1 LC_ALL=C.UTF-8

fail() {
    echo "tests/ansible/run.sh: FAILED: $*" >&2
    exit 1
}
check() {  # WHAT COMMAND...: runs the command, quietly unless it fails
    local what=$1
    shift
    if ! "$@" >"$work/out" 2>&1; then
        cat "$work/out" >&2
        fail "$what"
    fi
    echo "ok: $what ($(($(date +%s) - run_started)) s)"
}

integration() {
    local work=$2
    ip addr add 198.51.100.1/24 dev lo
    sim_pids=()
    trap 'kill "${sim_pids[@]}" 2>/dev/null || true' EXIT
    # A simulated print server on ADDRESS, its flash and log named NAME, waited for until it
    # says it listens.
    start_sim() {
        local address=$1 name=$2 line=
        shift 2
        mkfifo "$work/ready.$name"
        "$build/tools/vexil-printserver-sim" --listen "$address" --flash "$work/flash.$name" \
            --ready-fd 3 "$@" 3>"$work/ready.$name" >/dev/null 2>"$work/sim.$name.log" &
        sim_pids+=($!)
        read -r -t 10 line <"$work/ready.$name" || true
        [ "$line" = ready ] || fail "the simulator $name did not start: $(cat "$work/sim.$name.log")"
    }
    start_sim 192.0.2.61 pa1
    start_sim 192.0.2.62 pa2 --firmware-version 1.00
    start_sim 192.0.2.63 pa3 --firmware-version 1.00 --refuse-mode-switch 1000
    start_sim 198.51.100.64 pb1 --firmware-version 1.00
    start_sim 198.51.100.65 pb2 --ipx-node 00D1F0000065
    start_sim 198.51.100.66 pb3
    start_sim 192.0.2.64 other --model-code 0b00  # another model than the inventory's
    start_sim 192.0.2.67 sums --firmware-version 1.00  # checksums.yml's

    export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_COLLECTIONS_PATH=$work/installed
    export ANSIBLE_CALLBACK_PLUGINS=$here/callback_plugins ANSIBLE_CALLBACKS_ENABLED=printserver_results
    export ANSIBLE_LOAD_CALLBACK_PLUGINS=1 ANSIBLE_FORKS=10
    # vexil-download of the build, on the PATH of the runners (this machine).
    export PATH=$build/cli:$PATH
    : >"$ANSIBLE_CONFIG"
    local playbook=$work/installed/ansible_collections/vexilware/printserver/docs/rollout.yml
    # One run of the example playbook: RUN names its results file; the exit status is STATUS.
    play() {
        local run=$1 status=$2 got=0
        shift 2
        PRINTSERVER_RESULTS=$work/results.$run ansible-playbook -i "$here/inventory.yml" "$playbook" \
            -e printserver_firmware_dir="$build/sample" -e printserver_log="$work/downloads.log" \
            -e printserver_report="$work/report.$run.csv" "$@" >"$work/play.$run" 2>&1 || got=$?
        [ "$got" = "$status" ] || { cat "$work/play.$run" >&2; fail "the $run run ended with $got, not $status"; }
        echo "ok: the $run run ended with $status ($(($(date +%s) - run_started)) s)"
    }
    # The line of HOST's MODULE result in RUN has every one of the words that follow.
    expect() {
        local run=$1 host=$2 module=$3 line
        shift 3
        line=$(grep "^$host $module " "$work/results.$run" || true)
        for word in "$@"; do
            [[ " $line " == *" $word "* ]] ||
                { cat "$work/play.$run" >&2; fail "$run: $host $module lacks $word: ${line:-no result}"; }
        done
    }
    switches() {  # how often the simulator NAME went into download mode
        grep -c "download-mode switch: in download mode" "$work/sim.$1.log" || true
    }
    "$build/tools/vexil-file" extract "$build/sample/RS.BIN" "$work/image.bin" >/dev/null

    # Check mode: the report and what would change, and no print server in download mode.
    play check 0 --check
    for host in pa2 pa3 pb1; do expect check "$host" printserver_firmware changed=True failed=False; done
    for host in pa1 pb2 pb3; do expect check "$host" printserver_firmware changed=False failed=False; done
    expect check pa2 printserver_firmware version_before=1.00 file_version=1.10 outcome=query-succeeded
    expect check pb2 printserver_info answered=True version=1.10
    for sim in pa1 pa2 pa3 pb1 pb2 pb3; do
        [ "$(switches $sim)" = 0 ] && [ ! -e "$work/flash.$sim" ] || fail "check mode changed $sim"
    done
    echo "ok: check mode changed nothing"

    # The first run: the old ones downloaded, the failing one fails its own host only, and the
    # last stage still runs.
    play first 2
    for host in pa2 pb1; do
        expect first "$host" printserver_firmware changed=True failed=False outcome=succeeded \
            version_before=1.00 version_after=1.10
        cmp -s "$work/flash.$host" "$work/image.bin" || fail "the flash of $host is not the image"
    done
    # The switch to download mode was sent to pa3: a change, whatever it came to.
    expect first pa3 printserver_firmware changed=True failed=True result=-10
    for host in pa1 pb2 pb3; do
        expect first "$host" printserver_firmware changed=False failed=False outcome=already-current
    done
    for sim in pa1 pa3 pb2 pb3; do [ ! -e "$work/flash.$sim" ] || fail "the first run flashed $sim"; done
    echo "ok: the first run flashed the old ones (each flash is the image), and pa3 failed alone"

    # The second run: the print servers report the image's version now, and nothing changes.
    play second 2
    for host in pa1 pa2 pb1 pb2 pb3; do
        expect second "$host" printserver_firmware changed=False failed=False outcome=already-current
    done
    expect second pa3 printserver_firmware changed=True failed=True
    for sim in pa2 pb1; do [ "$(switches $sim)" = 1 ] || fail "the second run downloaded to $sim"; done
    grep -qx "pa2,runner_a,tcp 192.0.2.62,True,aa01,1.10,0," "$work/report.second.csv" &&
        grep -qx "pa3,runner_a,tcp 192.0.2.63,True,aa01,1.00,0," "$work/report.second.csv" ||
        fail "the second run's report: $(cat "$work/report.second.csv")"
    grep -q " target=tcp:192.0.2.62 .* outcome=already-current" "$work/downloads.log" ||
        fail "the download log: $(cat "$work/downloads.log")"
    echo "ok: the second run changed nothing; its report has the new versions"

    # A print server that does not answer is no failure of printserver_info; an address that
    # vexil-download refuses fails the task with its reason.
    PRINTSERVER_RESULTS=$work/results.adhoc ansible runner_a -i "$here/inventory.yml" \
        -m vexilware.printserver.printserver_info -a "target='tcp 192.0.2.69' model=6" \
        >"$work/adhoc" 2>&1 || { cat "$work/adhoc" >&2; fail "the query of a silent print server failed"; }
    expect adhoc runner_a printserver_info changed=False failed=False answered=False result=-13
    if PRINTSERVER_RESULTS=$work/results.adhoc ansible runner_a -i "$here/inventory.yml" \
        -m vexilware.printserver.printserver_info -a "target='tcp 127.0.0.1' model=6" >"$work/adhoc" 2>&1; then
        fail "a refused address passed"
    fi
    grep -q "^runner_a printserver_info changed=False failed=True .*refused the task: error 57620 " \
        "$work/results.adhoc" || fail "a refused address: $(cat "$work/results.adhoc")"
    echo "ok: no answer is answered=false; a refused address fails with the reason"

    # A print server of another model fails check mode as it fails the download (57631), and a
    # log that the download would refuse fails check mode; neither changes anything.
    local firmware="target='tcp 192.0.2.64' model=6 firmware_dir=$build/sample" mode
    for mode in check run log; do
        local args=("$firmware")
        [ "$mode" = run ] || args+=(--check)
        [ "$mode" != log ] || args=("$firmware log=$work/nowhere/downloads.log" --check)
        if PRINTSERVER_RESULTS=$work/results.other ansible runner_a -i "$here/inventory.yml" \
            -m vexilware.printserver.printserver_firmware -a "${args[@]}" >"$work/adhoc" 2>&1; then
            fail "printserver_firmware ($mode) passed: $(cat "$work/adhoc")"
        fi
    done
    [ "$(grep -c "^runner_a printserver_firmware changed=False failed=True .*result=-14 .*57631" \
        "$work/results.other")" = 2 ] &&
        grep -q "^runner_a printserver_firmware changed=False failed=True .*would refuse the log" \
            "$work/results.other" || fail "another model, a refused log: $(cat "$work/results.other")"
    [ "$(switches other)" = 0 ] && [ ! -e "$work/flash.other" ] || fail "the other model was changed"
    echo "ok: check mode fails where the download fails: another model, a log it refuses"

    # The approved image's checksums: the playbook asserts what each task returned and that
    # another release's sum sent nothing; the approved image is then the flash, downloaded once.
    PRINTSERVER_RESULTS=$work/results.checksums ansible-playbook -i "$here/inventory.yml" "$here/checksums.yml" \
        -e printserver_firmware_dir="$build/sample" -e '{"checksums_target": "tcp 192.0.2.67"}' \
        -e checksums_dir="$work" -e checksums_sim_log="$work/sim.sums.log" >"$work/play.checksums" 2>&1 ||
        { cat "$work/play.checksums" >&2; fail "the checksums playbook failed"; }
    cmp -s "$work/flash.sums" "$work/image.bin" && [ "$(switches sums)" = 1 ] ||
        fail "the approved image did not go out once: $(cat "$work/results.checksums")"
    echo "ok: another release's sum sent nothing; the approved one went out with its sum"
}

# When the whole run started, for the times it reports (the part in the namespace is a process
# of its own).
export run_started=${run_started:-$(date +%s)}
if [ "$mode" = integration ]; then
    integration "$@"
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp
tree=$work/src/ansible_collections/vexilware/printserver
mkdir -p "$(dirname "$tree")"
cp -r "$repo/ansible/vexilware/printserver" "$tree"

# Line length and the checks that ansible-test's own pycodestyle test leaves out.
check "pycodestyle" pycodestyle --max-line-length=160 --ignore=E402,W503,W504,E741 "$tree" "$here"
check "yamllint" yamllint --strict -c "$here/yamllint.yml" "$tree" "$here"
python=$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
check "ansible-test sanity --test compile (Python $python)" \
    bash -c "cd '$tree' && ansible-test sanity --test compile --python $python"
check "unit tests" bash -c "cd '$tree' && python3 -m pytest -q -p no:cacheprovider tests/unit"
for module in printserver_info printserver_firmware; do
    check "ansible-doc $module" env ANSIBLE_COLLECTIONS_PATH="$work/src" \
        ansible-doc "vexilware.printserver.$module"
    grep -q "RETURN VALUES" "$work/out" || fail "ansible-doc $module: no return values"
done
check "ansible-galaxy collection build" ansible-galaxy collection build "$tree" --output-path "$work/dist"
tarball=$(echo "$work"/dist/vexilware-printserver-*.tar.gz)
check "ansible-galaxy collection install $(basename "$tarball")" \
    ansible-galaxy collection install "$tarball" -p "$work/installed"
"$repo/tests/e2e/in_netns.sh" "$0" --in-netns "$build" "$work"
echo "tests/ansible/run.sh: every check passed in $(($(date +%s) - run_started)) seconds"
