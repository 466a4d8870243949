OPENQASM 3.0;
int n = 3;
array[int[32], n] a;
