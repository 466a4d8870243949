OPENQASM 3.0;
include "stdgates.inc";
pragma verbatim  
defcalgrammar "openpulse";
qubit[4] q;
qubit r;
bit[4] c;
@bind reg 7
@volatile
int[32] i = 5;
array[float[64], 2, 2] a = {{1.0, -0.021}, {3.0, 4.0}};
bit m = measure q[0];
bit n = measure_iq(1) q, r;
input angle[16] theta;
output bit result;
const uint count = 3;
gate cphase(θ) a, b {
    U(0, 0, θ / 2) a;
    ctrl @ U(0, 0, θ) a, b;
    for uint k in [0:1] {
        x a;
    }
}
gate post q {
}
extern vote(bit[4], readonly array[int, 2]) -> bit;
extern tick();
def parity(readonly array[int[8], 2, 3] x, mutable array[uint, #dim=2] y, qubit[2] p, qubit s, bit b) -> bit {
    return measure s;
}
def nothing() {
    return;
}
ctrl(2) @ negctrl @ inv @ pow(0.5) @ rx(pi / 2)[100.0ns] q[0], q[1:3], $0;
h q;
gphase(pi);
ctrl @ gphase(π / 2)[d] q[0];
nop;
@keep
nop q[0], $1;
reset q;
barrier;
barrier q, $2;
measure q[0];
measure q[0] -> c[0];
measure_iq q -> c;
i += 1;
a[0][1] = 2.5;
let pair = q[0:1] ++ r ++ q[{2, 3}];
while (i < 10) {
    if (i == 5) {
        break;
    } else {
        continue;
    }
}
if (c == 1) {
    x q;
} else {
    if (c == 2) {
        y q;
    } else {
        z q;
    }
}
if (flag) {
} else {
    @tag
    if (other) {
        end;
    }
}
for int j in {1, 2, 3} {
    for uint[32] k in [0:2:10] {
        x q;
    }
}
for float v in values {
}
switch (i) {
    case 1, 2 {
        x q;
    }
    case 3 {
    }
    default {
        switch (j) {
            case 0 {
            }
        }
    }
}
delay[100.0ns] q;
delay[2 * d];
box {
    x q;
}
box[1.0us] {
    duration t = durationof({
        x $0;
        y $1;
    });
}
{
    x q;
    {
    }
}
cal {
  play(d0, w);
}
defcal rz(angle[20] theta) $0 -> bit { raw { nested } }
defcal x() $0, q {}
f(1, sizeof(a, 1));
stretch st;
complex[float[64]] z = 1.0 + 2.0im;
bool yes = true;
bit[4] bits = "0101";
end;
