OPENQASM 3.0;
int x;
  x = w + 1;
