// A Rabi-style sweep: the drive angle starts at an input value and is stepped in a loop; each
// point is measured into the output register.
OPENQASM 3.0;
include "stdgates.inc";

input float[64] start;
input float[64] step;
output bit[16] outcomes;

const int[32] points = 16;
qubit q;
float[64] theta = start;

for int[32] i in [0:points - 1] {
  reset q;
  rx(theta) q;
  delay[100ns] q;
  outcomes[i] = measure q;
  theta += step;
}
