// vell-qasmc: --enforce-optimizations all
OPENQASM 3.0;
qubit q;
rx(1 / 0) q;
