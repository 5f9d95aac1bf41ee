/* The setup program's sections. The program links with a file alignment of 512, and its
   build then moves the resource section (the package) onto a page of the file, where Wine
   maps it instead of copying it. Every section still starts a page of memory, so the small
   ones share pages: one writable section (the thread-local template, the data, the
   runtime's start-up tables and the imports), one read-only section (constants and unwind
   codes), and apart only what Windows finds by section name (.pdata, .rsrc, .reloc).
   The symbols are the ones the MinGW runtime and the linker look for. */
OUTPUT_FORMAT(pei-x86-64)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    KEEP (*(SORT_NONE(.init)))
    *(.text) *(SORT(.text$*)) *(.text.*) *(.gnu.linkonce.t.*)
    . = ALIGN(8);
    /* Constructor and destructor lists: defined here, not provided (the runtime declares
       them as common symbols that this definition must win over). */
    ___CTOR_LIST__ = .; __CTOR_LIST__ = .;
    LONG (-1); LONG (-1);
    KEEP (*(.ctors)) KEEP (*(.ctor)) KEEP (*(SORT_BY_NAME(.ctors.*)))
    LONG (0); LONG (0);
    ___DTOR_LIST__ = .; __DTOR_LIST__ = .;
    LONG (-1); LONG (-1);
    KEEP (*(.dtors)) KEEP (*(.dtor)) KEEP (*(SORT_BY_NAME(.dtors.*)))
    LONG (0); LONG (0);
    KEEP (*(SORT_NONE(.fini)))
    *(.gcc_exc)
    PROVIDE (etext = .);
    KEEP (*(.gcc_except_table))
  }

  .data BLOCK(__section_alignment__) :
  {
    /* The thread-local template first: its variables are addressed by their offset from
       the start of the section that holds it. */
    ___tls_start__ = .;
    KEEP (*(.tls$AAA)) KEEP (*(.tls)) KEEP (*(.tls$)) KEEP (*(SORT(.tls$*))) KEEP (*(.tls$ZZZ))
    ___tls_end__ = .;

    __data_start__ = .;
    *(.data) *(.data2) *(SORT(.data$*)) KEEP (*(.jcr))
    __data_end__ = .;

    ___crt_xc_start__ = .; KEEP (*(SORT(.CRT$XC*))) ___crt_xc_end__ = .;
    ___crt_xi_start__ = .; KEEP (*(SORT(.CRT$XI*))) ___crt_xi_end__ = .;
    ___crt_xl_start__ = .; KEEP (*(SORT(.CRT$XL*)))
    ___crt_xp_start__ = .; KEEP (*(SORT(.CRT$XP*))) ___crt_xp_end__ = .;
    ___crt_xt_start__ = .; KEEP (*(SORT(.CRT$XT*))) ___crt_xt_end__ = .;
    KEEP (*(SORT(.CRT$XD*)))

    /* The imports, in the order the import libraries expect (sorted by object name). The
       linker finds the import directory and the address table through the symbols named
       after their parts, given here as addresses relative to the image. */
    ".idata$2" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    . = ALIGN(8);
    ".idata$4" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    ".idata$5" = ABSOLUTE(. - __image_base__);
    SORT(*)(.idata$5)
    __IAT_end__ = .;
    ".idata$6" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }

  .rdata BLOCK(__section_alignment__) :
  {
    *(.rdata) *(SORT(.rdata$*))
    KEEP (*(.xdata*))
    KEEP (*(.eh_frame*))
    /* The runtime's pseudo-relocation list ends the section: its end is the location
       counter just after it. */
    . = ALIGN(4);
    __rt_psrelocs_start = .;
    KEEP (*(.rdata_runtime_pseudo_reloc))
    __rt_psrelocs_end = .;
  }
  __rt_psrelocs_size = __rt_psrelocs_end - __rt_psrelocs_start;
  ___RUNTIME_PSEUDO_RELOC_LIST_END__ = .;
  __RUNTIME_PSEUDO_RELOC_LIST_END__ = .;
  ___RUNTIME_PSEUDO_RELOC_LIST__ = . - __rt_psrelocs_size;
  __RUNTIME_PSEUDO_RELOC_LIST__ = . - __rt_psrelocs_size;

  .pdata BLOCK(__section_alignment__) : { KEEP (*(.pdata*)) }

  .bss BLOCK(__section_alignment__) :
  {
    __bss_start__ = .;
    *(.bss) *(COMMON)
    __bss_end__ = .;
  }

  .edata BLOCK(__section_alignment__) : { *(.edata) }

  /DISCARD/ : { *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*) }

  .endjunk BLOCK(__section_alignment__) :
  {
    PROVIDE (end = .);
    PROVIDE (_end = .);
    __end__ = .;
  }

  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4) { KEEP (*(.rsrc)) KEEP (*(.rsrc$*)) }
  .reloc BLOCK(__section_alignment__) : { *(.reloc) }
  /* Debugging sections (in builds that are not stripped) are placed by the linker's own
     rules for sections not named here. */
}
