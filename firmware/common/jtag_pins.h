/* Where the FPGA player's JTAG port is wired: port A of the EZ-USB FX2.
 * TCK, TMS and TDI are outputs, TDO an input. The simulated bench connects
 * its JTAG chains to the same pins, so this header is read by the player
 * (sdcc) and by the bench (C++). */
#ifndef JTAG_PINS_H
#define JTAG_PINS_H

#define JTAG_PORT_SFR 0x80 /* IOA: pin levels (reads give the inputs' levels) */
#define JTAG_OE_SFR 0xB2   /* OEA: 1 = the pin is driven by the chip */
#define JTAG_TCK_BIT 0
#define JTAG_TMS_BIT 1
#define JTAG_TDI_BIT 2
#define JTAG_TDO_BIT 3

#ifdef __SDCC
__sfr __at(JTAG_PORT_SFR) IOA;
__sfr __at(JTAG_OE_SFR) OEA;
__sbit __at(JTAG_PORT_SFR + JTAG_TCK_BIT) TCK_PIN;
__sbit __at(JTAG_PORT_SFR + JTAG_TMS_BIT) TMS_PIN;
__sbit __at(JTAG_PORT_SFR + JTAG_TDI_BIT) TDI_PIN;
__sbit __at(JTAG_PORT_SFR + JTAG_TDO_BIT) TDO_PIN;
#endif

#endif
