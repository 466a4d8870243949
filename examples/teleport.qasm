// Quantum teleportation: the state of q[0] moves to q[2], corrected by mid-circuit measurements.
OPENQASM 3.0;
include "stdgates.inc";

qubit[3] q;
bit[2] c;
bit result;

// Prepare the state to send.
reset q[0];
reset q[1];
reset q[2];
rx(0.3) q[0];
rz(0.7) q[0];

// Share a Bell pair between q[1] and q[2].
h q[1];
cx q[1], q[2];

// Bell measurement of q[0] and q[1].
cx q[0], q[1];
h q[0];
c[0] = measure q[0];
c[1] = measure q[1];

// Corrections on the receiving qubit.
if (c[1] == 1) {
  x q[2];
}
if (c[0] == 1) z q[2];

result = measure q[2];
