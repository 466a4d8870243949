OPENQASM 3.0;
qubit q;
  foo q;
