// A five-qubit GHZ state, (|00000> + |11111>) / sqrt(2), measured into an output register.
// Qubit operands name fixed hardware qubits, so each index is a literal.
OPENQASM 3.0;
include "stdgates.inc";

qubit[5] q;
output bit[5] c;

h q[0];
cx q[0], q[1];
cx q[1], q[2];
cx q[2], q[3];
cx q[3], q[4];
barrier q;
c[0] = measure q[0];
c[1] = measure q[1];
c[2] = measure q[2];
c[3] = measure q[3];
c[4] = measure q[4];
