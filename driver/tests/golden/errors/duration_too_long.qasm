OPENQASM 3.0;
qubit q;
delay[1e30s] q;
