/* The web view and Qt WebEngine, a shared library carried inside the window library
   and loaded from memory only when the radio page is to be shown (see LoadedLibrary):
   a window without the page never loads the web engine. */

    .section .rodata.quavero_web, "a", @progbits
    .balign 64
    .globl qvr_web_image_begin
    .hidden qvr_web_image_begin
    .type qvr_web_image_begin, @object
qvr_web_image_begin:
    .incbin QVR_WEB_LIBRARY
    .globl qvr_web_image_end
    .hidden qvr_web_image_end
    .type qvr_web_image_end, @object
qvr_web_image_end:

    /* Without this the linker would make the stack executable. */
    .section .note.GNU-stack, "", @progbits
