OPENQASM 3.0;
qubit[9] q;
