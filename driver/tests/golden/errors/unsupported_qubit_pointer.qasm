OPENQASM 3.0;
input int n;
qubit[2] q;
x q[n];
