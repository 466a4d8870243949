OPENQASM 3.0;
qubit q;
for int i in [0:0:3] {
  x q;
}
