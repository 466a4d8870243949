// Repeat until success: prepare a state, test it with an ancilla, and start again until the
// ancilla reports success (at most ten attempts).
OPENQASM 3.0;
include "stdgates.inc";

qubit data;
qubit ancilla;
output int[32] attempts;
output bit result;

bool success = false;
attempts = 0;
while (!success && attempts < 10) {
  reset data;
  reset ancilla;
  h data;
  t data;
  cx data, ancilla;
  h data;
  bit flag = measure ancilla;
  success = !flag;
  attempts += 1;
}
result = measure data;
