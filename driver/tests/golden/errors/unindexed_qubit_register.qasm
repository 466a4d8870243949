OPENQASM 3.0;
qubit[3] q;
gphase(0.5) q;
