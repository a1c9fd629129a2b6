/* examples/default.json, built in; the build passes its folder to the assembler. */
#if defined(_WIN32)
    .section .rdata,"dr"
#else
    .section .rodata
#endif
    .globl veloDefaultMachine
veloDefaultMachine:
    .incbin "default.json"
    .globl veloDefaultMachineEnd
veloDefaultMachineEnd:
    .byte 0
#if !defined(_WIN32)
    .section .note.GNU-stack,"",@progbits
#endif
