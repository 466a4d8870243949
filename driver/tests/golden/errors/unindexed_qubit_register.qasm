OPENQASM 3.0;
qubit[3] q;
reset q;
