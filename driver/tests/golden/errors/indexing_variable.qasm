OPENQASM 3.0;
int x;
int y;
y = x[0];
