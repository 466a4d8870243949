OPENQASM 3.0;
array[int[32], 2, 2] a;
