OPENQASM 3.0;
gate flip a {
  x a;
  nope a;
}
