qubit q;
int k = 1;
int k = 2;
rx(k) q;
