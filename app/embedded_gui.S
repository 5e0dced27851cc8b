/* The window part of the program, a shared library built beside it, carried inside
   the executable so that the program is one file. It is loaded from memory only
   when a window opens (see LoadedLibrary), so a start that hands its request over
   never touches these bytes nor loads the GUI framework. */

    .section .rodata.quavero_gui, "a", @progbits
    .balign 64
    .globl qvr_gui_image_begin
    .hidden qvr_gui_image_begin
    .type qvr_gui_image_begin, @object
qvr_gui_image_begin:
    .incbin QVR_GUI_LIBRARY
    .globl qvr_gui_image_end
    .hidden qvr_gui_image_end
    .type qvr_gui_image_end, @object
qvr_gui_image_end:

    /* Without this the linker would make the program's stack executable. */
    .section .note.GNU-stack, "", @progbits
