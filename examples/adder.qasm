// A 4-bit ripple-carry adder (Cuccaro, Draper, Kutin and Moulton): b = a + b, the carry in cout.
OPENQASM 3.0;
include "stdgates.inc";

gate majority a, b, c {
  cx c, b;
  cx c, a;
  ccx a, b, c;
}

gate unmaj a, b, c {
  ccx a, b, c;
  cx c, a;
  cx a, b;
}

qubit cin;
qubit[4] a;
qubit[4] b;
qubit cout;
bit[5] ans;

uint[4] a_in = 1;
uint[4] b_in = 15;

reset cin;
reset a;
reset b;
reset cout;

// Load the operands.
for uint i in [0:3] {
  if (bool(a_in[i])) x a[i];
  if (bool(b_in[i])) x b[i];
}

majority cin, b[0], a[0];
for uint i in [0:2] {
  majority a[i], b[i + 1], a[i + 1];
}
cx a[3], cout;
for uint i in [2:-1:0] {
  unmaj a[i], b[i + 1], a[i + 1];
}
unmaj cin, b[0], a[0];

measure b[0:3] -> ans[0:3];
measure cout -> ans[4];
