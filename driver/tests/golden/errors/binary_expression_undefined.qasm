OPENQASM 3.0;
input int n;
int x;
x = n ** 2;
