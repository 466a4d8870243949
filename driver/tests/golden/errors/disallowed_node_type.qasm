OPENQASM 3.0;
qubit q;
def f() { }
