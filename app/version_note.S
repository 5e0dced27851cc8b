/* The program's file version, where the updater of this and of later builds reads
   it: one ELF note "Quavero" whose descriptor is a little-endian VS_FIXEDFILEINFO.
   QVR_FILE_VERSION_MS and _LS come from the build (the QVR_FILE_VERSION setting). */

#define LE32(v) .byte (v) & 0xFF, ((v) >> 8) & 0xFF, ((v) >> 16) & 0xFF, ((v) >> 24) & 0xFF

    .section .note.quavero.version, "a", @note
    .balign 4
    .long 8                     /* name size: "Quavero" and its NUL */
    .long 52                    /* descriptor size */
    .long 1                     /* note type */
    .asciz "Quavero"
    .balign 4
    LE32(0xFEEF04BD)            /* dwSignature */
    LE32(0x00010000)            /* dwStrucVersion */
    LE32(QVR_FILE_VERSION_MS)   /* dwFileVersionMS: major, minor */
    LE32(QVR_FILE_VERSION_LS)   /* dwFileVersionLS: release, build */
    LE32(QVR_FILE_VERSION_MS)   /* dwProductVersionMS */
    LE32(QVR_FILE_VERSION_LS)   /* dwProductVersionLS */
    LE32(0x3F)                  /* dwFileFlagsMask */
    LE32(0)                     /* dwFileFlags */
    LE32(0)                     /* dwFileOS */
    LE32(1)                     /* dwFileType: an application */
    LE32(0)                     /* dwFileSubtype */
    LE32(0)                     /* dwFileDateMS */
    LE32(0)                     /* dwFileDateLS */

    /* Without this the linker would make the program's stack executable. */
    .section .note.GNU-stack, "", @progbits
