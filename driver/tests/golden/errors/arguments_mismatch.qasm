OPENQASM 3.0;
qubit q;
gate flip a { x a; }
flip(0.5) q;
