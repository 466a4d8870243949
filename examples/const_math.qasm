// Constants, compound assignment and math functions feeding gate angles.
OPENQASM 3.0;
include "stdgates.inc";

const float[64] half_pi = pi / 2;
const float[64] scale = sqrt(2.0) / 4;
const int[32] reps = 3;

qubit[2] q;
bit[2] c;
float[64] phi = 0.0;
int[32] count = 0;

while (count < reps) {
  phi += scale * sin(half_pi / (count + 1));
  count += 1;
}
rz(phi) q[0];
ry(arccos(0.5) - phi / 2) q[1];
cx q[0], q[1];
phi *= 2;
rz(-phi) q[1];
c = measure q;
