OPENQASM 3.0;
gate h a { x a; }
