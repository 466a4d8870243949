// Branch on a two-bit measurement result.
OPENQASM 3.0;
include "stdgates.inc";

qubit[2] q;
bit[2] c;
int[32] branch;

h q[0];
h q[1];
c = measure q;
branch = int[32](c);

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
c = measure q;
