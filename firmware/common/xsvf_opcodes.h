/* XSVF command opcodes (Xilinx XAPP503). Read by the FPGA player (sdcc),
 * which executes them, and by the host (C++), which checks a file before
 * streaming it. */
#ifndef XSVF_OPCODES_H
#define XSVF_OPCODES_H

#define XCOMPLETE 0x00
#define XTDOMASK 0x01
#define XSIR 0x02
#define XSDR 0x03
#define XRUNTEST 0x04
#define XREPEAT 0x07
#define XSDRSIZE 0x08
#define XSDRTDO 0x09
#define XSETSDRMASKS 0x0A
#define XSDRINC 0x0B
#define XSDRB 0x0C
#define XSDRC 0x0D
#define XSDRE 0x0E
#define XSDRTDOB 0x0F
#define XSDRTDOC 0x10
#define XSDRTDOE 0x11
#define XSTATE 0x12
#define XENDIR 0x13
#define XENDDR 0x14
#define XSIR2 0x15
#define XCOMMENT 0x16
#define XWAIT 0x17
/* One past the highest opcode. */
#define XSVF_OPCODE_COUNT 0x18

#endif
