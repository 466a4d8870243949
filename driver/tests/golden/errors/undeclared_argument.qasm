qubit q;
gate g(t) a { h a; }
g(nosuch + 1) q;
