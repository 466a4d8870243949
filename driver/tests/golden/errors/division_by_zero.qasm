OPENQASM 3.0;
int x;
while (x < 3) {
  x = 1 / 0;
}
