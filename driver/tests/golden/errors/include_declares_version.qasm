OPENQASM 3.0;
include "versioned.inc";
