/* The registers of the two EZ-USB chip generations that Spindle's 8051
 * programs use and that the host resets the 8051 through: addresses in the
 * external data space, and their bits. One map for both sides: the 8051
 * programs (sdcc: the EEPROM loader, the FPGA player) read the accessors at
 * the end, the host (C++: the device layer's reset request, the simulated
 * chip) reads the plain addresses. */
#ifndef EZUSB_REGS_H
#define EZUSB_REGS_H

/* EZ-USB FX2 */
#define FX2_CPUCS_ADDR 0xE600u /* bit 0 holds the 8051 in reset */
#define FX2_USBIRQ_ADDR 0xE65Du
#define FX2_I2CS_ADDR 0xE678u
#define FX2_I2DAT_ADDR 0xE679u
#define FX2_USBCS_ADDR 0xE680u
#define FX2_EP0BCH_ADDR 0xE68Au
#define FX2_EP0BCL_ADDR 0xE68Bu /* a write arms OUT / commits IN */
#define FX2_EP1OUTBC_ADDR 0xE68Du
#define FX2_EP1INBH_ADDR 0xE68Eu
#define FX2_EP1INBC_ADDR 0xE68Fu
#define FX2_EP0CS_ADDR 0xE6A0u
#define FX2_EP1OUTCS_ADDR 0xE6A1u
#define FX2_EP1INCS_ADDR 0xE6A2u
#define FX2_SETUPDAT_ADDR 0xE6B8u
#define FX2_EP0BUF_ADDR 0xE740u /* one buffer serves both directions */
#define FX2_EP1OUTBUF_ADDR 0xE780u
#define FX2_EP1INBUF_ADDR 0xE7C0u
/* EP0CS bits; one BUSY bit serves both directions. */
#define FX2_EP0CS_STALL 0x01
#define FX2_EP0CS_BUSY 0x02
#define FX2_EP0CS_HSNAK 0x80
/* EP1OUTCS / EP1INCS: armed / committed and not taken yet. */
#define FX2_EPCS_BUSY 0x02

/* EZ-USB (AN21xx) */
#define EZUSB_OUT0BUF_ADDR 0x7EC0u
#define EZUSB_IN0BUF_ADDR 0x7F00u
#define EZUSB_CPUCS_ADDR 0x7F92u /* bit 0 holds the 8051 in reset */
#define EZUSB_I2CS_ADDR 0x7FA5u
#define EZUSB_I2DAT_ADDR 0x7FA6u
#define EZUSB_USBIRQ_ADDR 0x7FABu
#define EZUSB_EP0CS_ADDR 0x7FB4u
#define EZUSB_IN0BC_ADDR 0x7FB5u /* a write commits IN */
#define EZUSB_OUT0BC_ADDR 0x7FC5u /* a write arms OUT */
#define EZUSB_USBCS_ADDR 0x7FD6u
#define EZUSB_SETUPDAT_ADDR 0x7FE8u
/* EP0CS bits */
#define EZUSB_EP0CS_STALL 0x01
#define EZUSB_EP0CS_HSNAK 0x02
#define EZUSB_EP0CS_IN_BUSY 0x04
#define EZUSB_EP0CS_OUT_BUSY 0x08

/* The same on both chips. */
#define USBIRQ_SUDAV 0x01 /* setup data available (write 1 to clear) */
#define USBCS_RENUM 0x02  /* the program, not the chip's USB core, answers endpoint 0 */
#define I2C_START 0x80
#define I2C_STOP 0x40
#define I2C_LASTRD 0x20
#define I2C_ID_TWO_BYTE 0x10 /* the boot code found a two-byte-address EEPROM */
#define I2C_BERR 0x04
#define I2C_ACK 0x02
#define I2C_DONE 0x01

#ifdef __SDCC
#include <stdint.h>

#define XREG(address) (*(volatile __xdata uint8_t *)(address))
#define XBUF(address) ((volatile __xdata uint8_t *)(address))

/* Endpoint 0 under one set of names; build with -DCHIP_FX2 for the FX2,
 * without it for the EZ-USB. */
#ifdef CHIP_FX2
#define SETUPDAT_ADDR FX2_SETUPDAT_ADDR
#define USBIRQ XREG(FX2_USBIRQ_ADDR)
#define USBCS XREG(FX2_USBCS_ADDR)
#define EP0_OUT_BUF XBUF(FX2_EP0BUF_ADDR)
#define EP0_IN_BUF XBUF(FX2_EP0BUF_ADDR)
#define EP0BCH XREG(FX2_EP0BCH_ADDR)
#define EP0BCL XREG(FX2_EP0BCL_ADDR)
#define EP0CS XREG(FX2_EP0CS_ADDR)
#define I2CS XREG(FX2_I2CS_ADDR)
#define I2DAT XREG(FX2_I2DAT_ADDR)
#define EP0_STALL FX2_EP0CS_STALL
#define EP0_OUT_BUSY FX2_EP0CS_BUSY
#define EP0_IN_BUSY FX2_EP0CS_BUSY
#define EP0_HSNAK FX2_EP0CS_HSNAK
/* Arms endpoint 0 OUT for the next packet / commits n IN bytes. */
#define EP0_ARM_OUT() do { EP0BCL = 0; } while (0)
#define EP0_OUT_COUNT() (EP0BCL)
#define EP0_COMMIT_IN(n) do { EP0BCH = 0; EP0BCL = (n); } while (0)
#else
#define SETUPDAT_ADDR EZUSB_SETUPDAT_ADDR
#define USBIRQ XREG(EZUSB_USBIRQ_ADDR)
#define USBCS XREG(EZUSB_USBCS_ADDR)
#define EP0_OUT_BUF XBUF(EZUSB_OUT0BUF_ADDR)
#define EP0_IN_BUF XBUF(EZUSB_IN0BUF_ADDR)
#define OUT0BC XREG(EZUSB_OUT0BC_ADDR)
#define IN0BC XREG(EZUSB_IN0BC_ADDR)
#define EP0CS XREG(EZUSB_EP0CS_ADDR)
#define I2CS XREG(EZUSB_I2CS_ADDR)
#define I2DAT XREG(EZUSB_I2DAT_ADDR)
#define EP0_STALL EZUSB_EP0CS_STALL
#define EP0_HSNAK EZUSB_EP0CS_HSNAK
#define EP0_IN_BUSY EZUSB_EP0CS_IN_BUSY
#define EP0_OUT_BUSY EZUSB_EP0CS_OUT_BUSY
#define EP0_ARM_OUT() do { OUT0BC = 0; } while (0)
#define EP0_OUT_COUNT() (OUT0BC)
#define EP0_COMMIT_IN(n) do { IN0BC = (n); } while (0)
#endif
#define SETUPDAT XBUF(SETUPDAT_ADDR)

/* FX2 endpoint 1 (the FPGA player's bulk pipes). */
#define EP1OUTBUF XBUF(FX2_EP1OUTBUF_ADDR)
#define EP1INBUF XBUF(FX2_EP1INBUF_ADDR)
#define EP1OUTBC XREG(FX2_EP1OUTBC_ADDR)
#define EP1INBH XREG(FX2_EP1INBH_ADDR)
#define EP1INBC XREG(FX2_EP1INBC_ADDR)
#define EP1OUTCS XREG(FX2_EP1OUTCS_ADDR)
#define EP1INCS XREG(FX2_EP1INCS_ADDR)
#define EP_BUSY FX2_EPCS_BUSY
#endif /* __SDCC */

#endif
