OPENQASM 3.0;
int x = 1;
x ~= 2;
