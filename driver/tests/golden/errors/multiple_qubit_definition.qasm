OPENQASM 3.0;
qubit q;
qubit q;
