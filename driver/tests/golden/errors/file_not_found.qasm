OPENQASM 3.0;
include "no_such_file.inc";
