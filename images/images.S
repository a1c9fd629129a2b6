/* The four firmware images, back to back: image 4 first, image 1 last. */
#if defined(_WIN32)
    .section .rdata,"dr"
#else
    .section .rodata
#endif
    .balign 64
    .globl veloImageBlocks
veloImageBlocks:
    .incbin "image4.bin"
    .incbin "image3.bin"
    .incbin "image2.bin"
    .incbin "image1.bin"
    .globl veloImageBlocksEnd
veloImageBlocksEnd:
#if !defined(_WIN32)
    .section .note.GNU-stack,"",@progbits
#endif
