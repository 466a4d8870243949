// A small library of user-defined gates built on each other: a Bell pair, a controlled-Z made of
// the hardware's gates, a Toffoli-based majority vote, and a rotation layer with parameters.
OPENQASM 3.0;
include "stdgates.inc";

gate bell a, b {
  h a;
  cx a, b;
}

gate my_cz a, b {
  h b;
  cx a, b;
  h b;
}

gate majority a, b, c {
  cx c, b;
  cx c, a;
  ccx a, b, c;
}

gate layer(theta, phi) a, b {
  rx(theta) a;
  ry(phi) b;
  my_cz a, b;
}

qubit[3] q;
output bit[3] c;

bell q[0], q[1];
layer(pi / 4, pi / 8) q[1], q[2];
majority q[0], q[1], q[2];
layer(0.5, -0.5) q[2], q[0];

c[0] = measure q[0];
c[1] = measure q[1];
c[2] = measure q[2];
