// vell-qasmc: --max-expansion 100
qubit q;
gate g0 a { h a; }
gate g1 a { g0 a; g0 a; }
gate g2 a { g1 a; g1 a; }
gate g3 a { g2 a; g2 a; }
gate g4 a { g3 a; g3 a; }
gate g5 a { g4 a; g4 a; }
gate g6 a { g5 a; g5 a; }
gate g7 a { g6 a; g6 a; }
gate g8 a { g7 a; g7 a; }
h q;
g8 q;
