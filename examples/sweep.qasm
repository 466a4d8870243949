// A Rabi-style sweep: the drive angle comes in as input and is stepped in a loop.
OPENQASM 3.0;
include "stdgates.inc";

input angle[32] start;
input angle[32] step;
output bit[16] outcomes;

const int[32] points = 16;
qubit q;
angle[32] theta = start;

for int[32] i in [0:points - 1] {
  reset q;
  rx(theta) q;
  delay[100ns] q;
  outcomes[i] = measure q;
  theta += step;
}
