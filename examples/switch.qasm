// Branch on a two-bit measurement result: the register read as an integer (c[0] the low bit)
// picks the correction.
OPENQASM 3.0;
include "stdgates.inc";

qubit[2] q;
bit[2] c;
output int[32] branch;

h q[0];
h q[1];
c[0] = measure q[0];
c[1] = measure q[1];
branch = 0;
if (c[0]) branch += 1;
if (c[1]) branch += 2;

switch (branch) {
  case 0 {
    x q[0];
  }
  case 1, 2 {
    x q[1];
    barrier q;
  }
  default {
    x q[0];
    x q[1];
  }
}
c[0] = measure q[0];
c[1] = measure q[1];
