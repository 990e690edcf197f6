/* KVUNINST.EXE in three sections, so that headers and sections fill 4,096
   bytes of file (one cluster of a FAT32 disk):
     .text   code and read-only data (read-only, executable)
     .idata  the import tables (writable: the Windows 95/98 loader fills the
             import address table in place) and any writable data
     .rsrc   the VERSIONINFO (found by this name)
   Any input section not named here fails the link, so nothing new can
   quietly grow a fourth section. */
OUTPUT_FORMAT(pei-i386)

SECTIONS
{
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*)) *(.rdata.*) *(.rodata) *(.rodata.*)
  }

  .idata BLOCK(__section_alignment__) :
  {
    /* ld's import libraries rely on this order: the directory ($2), the
       null descriptor that ends it, then the lookup tables ($4), the
       address table ($5), the hint/name entries ($6) and DLL names ($7). */
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    *(.data) *(.data.*) *(.bss) *(.bss.*) *(COMMON)
  }

  .rsrc BLOCK(__section_alignment__) :
  {
    KEEP (*(.rsrc)) KEEP (*(SORT(.rsrc$*)))
  }

  /DISCARD/ :
  {
    *(.drectve) *(.note.GNU-stack) *(.debug*) *(.zdebug*)
  }
}
