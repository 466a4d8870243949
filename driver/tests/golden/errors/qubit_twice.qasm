OPENQASM 3.0;
qubit[2] q;
if (true) {
  cx q[0], q[0];
}
