# The smallest 64-bit Windows program: its entry returns 0. vexosim run must refuse it.
    .globl start
start:
    xorl %eax, %eax
    ret
