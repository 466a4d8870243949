OPENQASM 3.0;
qubit q;
h q
