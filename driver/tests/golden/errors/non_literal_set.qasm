OPENQASM 3.0;
qubit q;
int x;
for int i in {x, 2} {
  x q;
}
