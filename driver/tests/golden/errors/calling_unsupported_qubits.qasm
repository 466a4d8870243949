OPENQASM 3.0;
x $3;
x $9;
