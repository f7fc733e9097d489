#!/usr/bin/env bash
# The bash completion of brimvale-cli, run by bash-completion's own functions against the
# built program: what each position on the command line offers.
# Usage: completion-test.sh COMPLETION_FILE BRIMVALE_CLI
set -uo pipefail
completion=$1
PATH="$(cd "$(dirname "$2")" && pwd):$PATH"
export LC_ALL=C
source /usr/share/bash-completion/bash_completion
source "$completion"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch a.png B.JPG c.gif notes.txt out.bmp
mkdir photos

# Prints what completing the last word offers, sorted, on one line.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _brimvale_cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | xargs
}

failures=0
expect() {
    local want=$1
    shift
    local got
    got=$(offers "$@")
    if [ "$got" != "$want" ]; then
        echo "completion: '$*|' offered '$got', expected '$want'" >&2
        failures=$((failures + 1))
    fi
}

expect "--help --version decode info make" brimvale-cli ""
expect "--open --optimize" brimvale-cli make --op
expect "-o" brimvale-cli make -o
expect "c.gif photos" brimvale-cli make -o ""
expect "" brimvale-cli make --width ""
expect "" brimvale-cli make --background ""
expect "B.JPG a.png c.gif out.bmp photos" brimvale-cli make -o x.gif ""
expect "B.JPG a.png c.gif out.bmp photos" brimvale-cli make --background-image ""
expect "--frame" brimvale-cli decode --fr
expect "out.bmp photos" brimvale-cli decode --frame 2 a.png ""
expect "out.bmp photos" brimvale-cli decode a.png out.bmp --alpha ""
expect "B.JPG a.png c.gif out.bmp photos" brimvale-cli info ""
[ "$failures" -eq 0 ] && echo "completion: every case offers what it should"
exit $((failures > 0))
