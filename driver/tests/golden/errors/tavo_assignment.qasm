OPENQASM 3.0;
int x;
x = 2.5;
