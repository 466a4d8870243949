OPENQASM 3.0;
qubit[2] q;
x q[2];
