OPENQASM 3.0;
qubit[2] a;
qubit[3] b;
cx a, b;
