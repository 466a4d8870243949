// A 4-bit ripple-carry adder (Cuccaro, Draper, Kutin and Moulton): b = a + b, the carry in cout.
// The operands are bit registers given as inputs; qubit indices are literals, since each names a
// fixed hardware qubit, so the ripple is written out.
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

input bit[4] a_in;
input bit[4] b_in;
output bit[5] ans;

qubit cin;
qubit[4] a;
qubit[4] b;
qubit cout;

reset cin;
reset a[0]; reset a[1]; reset a[2]; reset a[3];
reset b[0]; reset b[1]; reset b[2]; reset b[3];
reset cout;

// Load the operands.
if (a_in[0]) x a[0];
if (a_in[1]) x a[1];
if (a_in[2]) x a[2];
if (a_in[3]) x a[3];
if (b_in[0]) x b[0];
if (b_in[1]) x b[1];
if (b_in[2]) x b[2];
if (b_in[3]) x b[3];

majority cin, b[0], a[0];
majority a[0], b[1], a[1];
majority a[1], b[2], a[2];
majority a[2], b[3], a[3];
cx a[3], cout;
unmaj a[2], b[3], a[3];
unmaj a[1], b[2], a[2];
unmaj a[0], b[1], a[1];
unmaj cin, b[0], a[0];

ans[0] = measure b[0];
ans[1] = measure b[1];
ans[2] = measure b[2];
ans[3] = measure b[3];
ans[4] = measure cout;
