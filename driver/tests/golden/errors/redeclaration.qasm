OPENQASM 3.0;
const int n = 1;
const int n = 2;
