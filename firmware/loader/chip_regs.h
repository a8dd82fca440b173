/* The registers the EEPROM loader uses, for the two chip generations.
 * Build with -DCHIP_FX2 for the EZ-USB FX2, without it for the EZ-USB
 * (AN21xx). Addresses are in the external data space. */
#ifndef CHIP_REGS_H
#define CHIP_REGS_H

#include <stdint.h>

#define XREG(address) (*(volatile __xdata uint8_t *)(address))

#ifdef CHIP_FX2
#define SETUPDAT_ADDR 0xE6B8u
#define USBIRQ XREG(0xE65D)
#define USBCS XREG(0xE680)
#define EP0_OUT_BUF ((volatile __xdata uint8_t *)0xE740)
#define EP0_IN_BUF ((volatile __xdata uint8_t *)0xE740)
#define EP0BCH XREG(0xE68A)
#define EP0BCL XREG(0xE68B)
#define EP0CS XREG(0xE6A0)
#define I2CS XREG(0xE678)
#define I2DAT XREG(0xE679)
/* EP0CS bits */
#define EP0_STALL 0x01
#define EP0_OUT_BUSY 0x02 /* one BUSY bit serves both directions */
#define EP0_IN_BUSY 0x02
#define EP0_HSNAK 0x80
/* Arms endpoint 0 OUT for the next packet / commits n IN bytes. */
#define EP0_ARM_OUT() do { EP0BCL = 0; } while (0)
#define EP0_OUT_COUNT() (EP0BCL)
#define EP0_COMMIT_IN(n) do { EP0BCH = 0; EP0BCL = (n); } while (0)
#else
#define SETUPDAT_ADDR 0x7FE8u
#define USBIRQ XREG(0x7FAB)
#define USBCS XREG(0x7FD6)
#define EP0_OUT_BUF ((volatile __xdata uint8_t *)0x7EC0)
#define EP0_IN_BUF ((volatile __xdata uint8_t *)0x7F00)
#define OUT0BC XREG(0x7FC5)
#define IN0BC XREG(0x7FB5)
#define EP0CS XREG(0x7FB4)
#define I2CS XREG(0x7FA5)
#define I2DAT XREG(0x7FA6)
#define EP0_STALL 0x01
#define EP0_HSNAK 0x02
#define EP0_IN_BUSY 0x04
#define EP0_OUT_BUSY 0x08
#define EP0_ARM_OUT() do { OUT0BC = 0; } while (0)
#define EP0_OUT_COUNT() (OUT0BC)
#define EP0_COMMIT_IN(n) do { IN0BC = (n); } while (0)
#endif

#define SETUPDAT ((volatile __xdata uint8_t *)SETUPDAT_ADDR)

/* USBIRQ: setup data available (write 1 to clear). */
#define USBIRQ_SUDAV 0x01
/* USBCS: the program, not the chip's USB core, answers endpoint 0. */
#define USBCS_RENUM 0x02

/* I2CS bits, the same on both chips. */
#define I2C_START 0x80
#define I2C_STOP 0x40
#define I2C_LASTRD 0x20
#define I2C_ID_TWO_BYTE 0x10 /* the boot code found a two-byte-address EEPROM */
#define I2C_BERR 0x04
#define I2C_ACK 0x02
#define I2C_DONE 0x01

#endif
