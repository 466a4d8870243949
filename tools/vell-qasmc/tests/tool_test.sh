#!/usr/bin/env bash
# Tests of the vell-qasmc tool as a user runs it: vell-qasmc_tool_test.sh PATH-TO-vell-qasmc
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A device is refused at once, not read without bound; so is a directory.
if timeout 20 "$tool" parse /dev/zero >"$work/out" 2>"$work/err"; then fail "/dev/zero was accepted"; fi
grep -q "cannot read '/dev/zero': it is not a regular file" "$work/err" || fail "/dev/zero: $(head -c 300 "$work/err")"
if "$tool" parse "$work" >/dev/null 2>"$work/err"; then fail "a directory was accepted"; fi
grep -q "it is a directory" "$work/err" || fail "directory: $(cat "$work/err")"

# Standard input stays readable.
printf 'x ~= 1;\n' | "$tool" parse - >"$work/out" 2>"$work/err" || fail "stdin: $(cat "$work/err")"
[ "$(cat "$work/out")" = "x ~= 1;" ] || fail "stdin printed: $(cat "$work/out")"

# A flat sum of 10,000 terms parses, prints, and its printed form reads back to the same text.
{ printf 'int x = 1'; for ((i = 0; i < 10000; ++i)); do printf ' + 1'; done; printf ';\n'; } >"$work/sum.qasm"
"$tool" parse "$work/sum.qasm" >"$work/sum1.qasm" 2>"$work/err" || fail "10,000-term sum: $(head -c 300 "$work/err")"
cmp -s "$work/sum.qasm" "$work/sum1.qasm" || fail "10,000-term sum printed differently"

# On a small stack, deep nesting is a syntax error, never a crash.
{ for ((i = 0; i < 998; ++i)); do printf 'if (c) '; done; printf 'x q;\n'; } >"$work/deep.qasm"
(ulimit -s 256 && "$tool" parse "$work/deep.qasm" >/dev/null 2>"$work/err")
status=$?
[ "$status" = 0 ] || [ "$status" = 1 ] || fail "deep nesting on a 256 KiB stack: exit status $status"

if [ "$failures" -gt 0 ]; then exit 1; fi
echo "all tool tests passed"
