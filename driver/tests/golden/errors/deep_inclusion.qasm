// vell-qasmc: --max-inclusion-depth 2
OPENQASM 3.0;
include "self.inc";
