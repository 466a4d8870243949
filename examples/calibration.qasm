// A program whose knobs come from the command line:
//   vell-qasmc compile calibration.qasm --input shots=100 --input amplitude=0.25 --input echo=true
// Each value is fixed at compile time; without one, an input is read from an input stream at run time.
OPENQASM 3.0;
include "stdgates.inc";

input int[32] shots;
input float[64] amplitude;
input bool echo;
output int[32] ones;

qubit q;
ones = 0;
for int[32] shot in [1:shots] {
  reset q;
  rx(amplitude * pi) q;
  if (echo) {
    x q;
    x q;
  }
  bit b = measure q;
  if (b) {
    ones += 1;
  }
}
