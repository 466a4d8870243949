OPENQASM 3.0;
include "undefined_call.inc";
qubit q;
wrapper q;
