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

# compile: the listing on standard output, includes found next to the source, status 0.
examples=$(cd "$(dirname "$0")/../../../examples" && pwd)
(cd "$work" && "$tool" compile "$examples/ghz.qasm" >"$work/out" 2>"$work/err") || fail "ghz: $(cat "$work/err")"
grep -q 'measure "readout" on "q4.rr"' "$work/out" || fail "ghz listing: $(head -c 300 "$work/out")"
"$tool" compile "$examples/ghz.qasm" -o "$work/listing" && cmp -s "$work/out" "$work/listing" || fail "-o OUT differs"
# A program error: one FILE:LINE:COL line, status 1.
printf 'OPENQASM 3.0;\nqubit q;\n  foo q;\n' >"$work/bad.qasm"
"$tool" compile "$work/bad.qasm" >"$work/out" 2>"$work/err"
[ $? = 1 ] || fail "unknown gate: status"
[ "$(wc -l <"$work/err")" = 1 ] && grep -q "^$work/bad.qasm:3:2: error: " "$work/err" || fail "unknown gate: $(cat "$work/err")"
[ -s "$work/out" ] && fail "a failed compilation printed a listing"
# Without a position: "vell-qasmc: error: ..."
printf 'OPENQASM 3.0;\nqubit[9] q;\n' | "$tool" compile - >/dev/null 2>"$work/err"
[ $? = 1 ] && grep -q "^vell-qasmc: error: " "$work/err" || fail "too many qubits: $(cat "$work/err")"
# Usage errors: status 2.
for args in "--input n=abc" "--input =1" "--input n=1e999" "--qubits 0" "--no-such-option"; do
  # shellcheck disable=SC2086
  "$tool" compile "$examples/ghz.qasm" $args >/dev/null 2>&1
  [ $? = 2 ] || fail "compile $args: not a usage error"
done
# Includes: beside the source, then -I folders in order, then the served standard library; an
# error inside an included file names that file and its line. Run from an empty folder.
mkdir -p "$work/src" "$work/lib1" "$work/lib2" "$work/empty"
printf 'OPENQASM 2.0;\ninclude "qelib1.inc";\ninclude "mine.inc";\nqreg q[2];\nmine q[0];\ncu1(1) q[0], q[1];\n' >"$work/src/v2.qasm"
printf 'gate mine a { x a; }\n' >"$work/lib2/mine.inc"
printf 'gate mine a { y a; }\n' >"$work/lib1/mine.inc"
(cd "$work/empty" && "$tool" compile "$work/src/v2.qasm" -I "$work/lib1" -I "$work/lib2" >"$work/out" 2>"$work/err") ||
  fail "-I: $(cat "$work/err")"
(cd "$work/empty" && "$tool" compile "$work/src/v2.qasm" -I "$work/lib2" >"$work/out2" 2>"$work/err") ||
  fail "-I lib2: $(cat "$work/err")"
cmp -s "$work/out" "$work/out2" && fail "-I folders not searched in order"
(cd "$work/empty" && "$tool" compile "$work/src/v2.qasm" >/dev/null 2>"$work/err") && fail "mine.inc found without -I"
grep -q "^$work/src/v2.qasm:3:0: error: File mine.inc not found" "$work/err" || fail "without -I: $(cat "$work/err")"
printf 'gate mine a { x a; }\n\nqubit q\n' >"$work/lib1/mine.inc"
(cd "$work/empty" && "$tool" compile "$work/src/v2.qasm" -I "$work/lib1" >/dev/null 2>"$work/err")
grep -q "^$work/lib1/mine.inc:4:0: error: " "$work/err" || fail "error in an include: $(cat "$work/err")"
# A tolerated optimization failure is a WARNING on standard error; -v adds DEBUG records.
printf 'OPENQASM 3.0;\nqubit q;\nrx(sqrt(-1.0)) q;\n' >"$work/warn.qasm"
"$tool" compile "$work/warn.qasm" >/dev/null 2>"$work/err"
grep -q "warning: .*sqrt(-1.0)" "$work/err" || fail "no warning: $(cat "$work/err")"
"$tool" compile "$examples/ghz.qasm" -v >/dev/null 2>"$work/err"
grep -q "debug: " "$work/err" || fail "-v printed no DEBUG record"

if [ "$failures" -gt 0 ]; then exit 1; fi
echo "all tool tests passed"
