#!/bin/bash
# The bash completion of zqprog, run as bash runs it: COMP_WORDS and COMP_CWORD set, the
# function called, COMPREPLY read.
# Usage: test_zqprog_bash_completion.sh ZQPROG COMPLETION_FILE
set -u
# The cases run in a folder of their own, so the program is named by its full path.
zqprog=$(readlink -f "$1")
# shellcheck source=/dev/null
source "$2"
failed=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir board other
touch demo.bin demo.hex

# complete WORD... : completes the last word of "zqprog WORD..."
complete_line()
{
    COMP_WORDS=(zqprog "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _zqprog "$zqprog" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect()
{
    local want=$1
    shift
    local got
    got=$(complete_line "$@" | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" != "$want" ]; then
        echo "zqprog $*<TAB>: got '$got', want '$want'"
        failed=1
    fi
}

expect "check download info job list program records run update-app update-boot verify" ""
expect "update-app update-boot" "up"
expect "demo.bin demo.hex" program "demo"
expect "" info ""
expect "--mcu" download demo.bin "--m"
expect "ZQ318" download demo.bin --mcu "ZQ3"
expect "middle" program demo.bin --speed "m"
expect "--allow-boot-update" update-boot demo.bin "--al"
expect "board" --emulated = "bo"
expect "--emulated=board" "--emulated=bo"
expect "--all" check demo.bin "--al"
# --device offers the ids and port paths of the boards zqprog lists.
expect "0x00012345 emu:1-1" --emulated info --device ""
expect "0x00012345 0x00012346" --emulated=board --emulated=other program demo.bin --device "0x"
expect "emu:1-2" --emulated = board --emulated=other program demo.bin --device "emu:1-2"
# Production: a job's actions and file, the records' actions, the words an option takes; an
# option's value is never taken for the subcommand or the action.
expect "create show" job ""
expect "demo.bin demo.hex" job show "demo"
expect "" job create --name records ""
expect "export list show sync verify yield" records ""
expect "" records --station job show ""
expect "demo.bin demo.hex" run "demo"
expect "ascii-dec ascii-hex" job create --serial-encoding "as"
expect "board day hour job port station" records yield --by ""
expect "demo.bin demo.hex" records list --records "de"
expect "" run demo.bin --unit ""

# Every option that the help of a subcommand names is offered after "--".
for sub in "" list info download check program verify update-app update-boot job run records; do
    want=$("$zqprog" $sub --help | grep -oE -- '--[a-z][a-z-]*' | sort -u | tr '\n' ' ' | sed 's/ $//')
    [ -n "$want" ] || { echo "zqprog $sub --help names no option"; failed=1; }
    if [ -n "$sub" ]; then expect "$want" "$sub" "--"; else expect "$want" "--"; fi
done

[ $failed -eq 0 ] && echo "bash completion of zqprog: all cases passed"
exit $failed
