// Named constants with arithmetic the compiler folds: every gate angle below is a constant
// expression and reaches the listing as one number; the loop accumulates at run time.
OPENQASM 3.0;
include "stdgates.inc";

const float[64] half_pi = pi / 2;
const float[64] scale = sqrt(2.0) / 4;
const int[32] reps = 3;
const int[32] n = 2 * reps + 1;

qubit[2] q;
output bit[2] c;
output float[64] phi;
int[32] count = 0;

rz(half_pi * scale) q[0];
ry(arccos(0.5) - half_pi / n) q[1];
rx(2 ** reps * pi / 16) q[0];
cx q[0], q[1];

phi = 0.0;
while (count < reps) {
  phi += scale * (count + 1);
  count += 1;
}
rz(-phi) q[1];
c[0] = measure q[0];
c[1] = measure q[1];
