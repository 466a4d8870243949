OPENQASM 3.0;
float[64] a = 1.0;
float[64] b;
b = sin(a);
