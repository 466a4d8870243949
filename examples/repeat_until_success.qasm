// Repeat until success: prepare a state, test it with an ancilla, and start again until the
// ancilla reports success, at most ten attempts.
OPENQASM 3.0;
include "stdgates.inc";

qubit data;
qubit ancilla;
output int[32] attempts;
output bool success;
output bit result;

bool done = false;
success = false;
attempts = 0;
while (!done) {
  reset data;
  reset ancilla;
  h data;
  t data;
  cx data, ancilla;
  h data;
  bit flag = measure ancilla;
  attempts += 1;
  success = !flag;
  done = success;
  if (attempts >= 10) {
    done = true;
  }
}
result = measure data;
