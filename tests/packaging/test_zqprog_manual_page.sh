#!/bin/bash
# zqprog(1) names every subcommand, every option and every MCU type that zqprog's help names.
# Usage: test_zqprog_manual_page.sh ZQPROG MANUAL_PAGE
set -u
zqprog=$1
page=$2
failed=0
# The page's text with roff's escaped minus signs as plain ones.
text=$(sed -e 's/\\-/-/g' "$page")

subcommands="list info download check program verify update-app update-boot job run records"
help=$("$zqprog" --help)
for sub in $subcommands; do
    case $help in *"  $sub"*) ;; *) echo "zqprog --help no longer lists $sub"; failed=1 ;; esac
    help="$help
$("$zqprog" "$sub" --help)"
done
[ -n "$help" ] || { echo "zqprog printed no help"; exit 1; }

words=$(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]*|ZQ[0-9][0-9A-Za-z]*' | sort -u)
for word in $subcommands $words; do
    if ! printf '%s\n' "$text" | grep -qF -- "$word"; then
        echo "zqprog(1) does not mention $word, which zqprog's help names"
        failed=1
    fi
done
# The exit statuses the help gives are the page's.
for status in 0 1 2 3 130; do
    printf '%s\n' "$text" | grep -qx -- ".B $status" || { echo "exit status $status missing"; failed=1; }
done
[ $failed -eq 0 ] && echo "zqprog(1) names all $(printf '%s\n' $subcommands $words | wc -l) subcommands, options and MCU types of the help"
exit $failed
