/* EEPROM loader: a small 8051 program that serves vendor requests on
 * endpoint 0 so the host can write and read the boot EEPROM and 8051
 * memory. One source for both chip generations (see ezusb_regs.h).
 *
 *   0xA2 host to device: write the data stage into the EEPROM at wValue
 *   0xA2 device to host: read wLength bytes of the EEPROM at wValue
 *   0xA3 host to device: write the data stage into 8051 memory at wValue
 *   0xA3 device to host: read wLength bytes of 8051 memory at wValue
 *
 * Data stages of up to 4096 bytes move as 64-byte endpoint-0 packets. The
 * EEPROM is the one the chip's boot code found: two-byte addresses at I2C
 * address 0x51 when I2CS reports it, else one-byte addresses at 0x50. Page
 * writes never cross a page boundary: 8-byte pages for one-byte parts
 * (24C01/02 have 8), 32-byte pages for two-byte parts (24C32 and up have 32
 * or more) until the part has shown that it takes 64 (24C128 and up): the
 * first whole packet whose halves differ is written as one 64-byte page and
 * read back. A part with 32-byte pages wraps that write within the packet's
 * first 32 bytes, which read back wrong, and the packet is written again in
 * 32-byte pages; either way only the packet's own bytes were touched. After
 * each page the program polls for the acknowledge that ends the write
 * cycle. A request that fails on the bus is stalled.
 *
 * The program polls; it uses no interrupts. Other requests: GET_STATUS
 * answers two zero bytes, requests without data stage are acknowledged,
 * anything else is stalled. */
#include "ezusb_regs.h"

#define PACKET 64
#define ACK_POLL_TRIES 2000

static __bit two_byte;
static uint8_t eeprom_address; /* I2C address, 7 bits */
static uint8_t page_mask;
static __bit page_known; /* the 64-byte probe was made */
static __bit read_differs;

static __bit i2c_wait_done(void)
{
    uint16_t guard = 0;
    while (!(I2CS & I2C_DONE)) {
        if (I2CS & I2C_BERR) return 0;
        if (++guard == 0) return 0;
    }
    return 1;
}

static void i2c_stop(void)
{
    uint16_t guard = 0;
    I2CS = I2C_STOP;
    while ((I2CS & I2C_STOP) && ++guard != 0) {
    }
}

/* START and the address byte; true when the EEPROM acknowledged it. */
static __bit i2c_start(uint8_t address_rw)
{
    I2CS = I2C_START;
    I2DAT = address_rw;
    if (!i2c_wait_done()) return 0;
    return (I2CS & I2C_ACK) != 0;
}

static __bit i2c_write(uint8_t value)
{
    I2DAT = value;
    if (!i2c_wait_done()) return 0;
    return (I2CS & I2C_ACK) != 0;
}

/* START, address (write) and the memory address. */
static __bit eeprom_select(uint16_t address)
{
    if (!i2c_start((uint8_t)(eeprom_address << 1))) return 0;
    if (two_byte && !i2c_write((uint8_t)(address >> 8))) return 0;
    return i2c_write((uint8_t)address);
}

/* Waits until the write cycle has ended: the EEPROM acknowledges its
 * address again. */
static __bit eeprom_wait_ready(void)
{
    uint16_t tries;
    for (tries = 0; tries < ACK_POLL_TRIES; ++tries) {
        __bit acked = i2c_start((uint8_t)(eeprom_address << 1));
        i2c_stop();
        if (acked) return 1;
    }
    return 0;
}

/* One page write of n bytes, and the wait for its write cycle. */
static __bit eeprom_page(uint16_t address, volatile __xdata uint8_t *from, uint8_t n)
{
    uint8_t i;
    if (!eeprom_select(address)) {
        i2c_stop();
        return 0;
    }
    for (i = 0; i < n; ++i) {
        if (!i2c_write(from[i])) {
            i2c_stop();
            return 0;
        }
    }
    i2c_stop();
    return eeprom_wait_ready();
}

static __bit eeprom_read(uint16_t address, uint8_t n, volatile __xdata uint8_t *to, uint8_t compare);

/* True when the two halves of a packet differ, so that a write wrapped
 * within 32 bytes cannot read back as the packet. */
static __bit halves_differ(volatile __xdata uint8_t *from)
{
    uint8_t i;
    for (i = 0; i < PACKET / 2; ++i) {
        if (from[i] != from[i + PACKET / 2]) return 1;
    }
    return 0;
}

/* Writes n bytes from the endpoint-0 buffer at `address`, page by page. */
static __bit eeprom_write(uint16_t address, volatile __xdata uint8_t *from, uint8_t n)
{
    if (!page_known && two_byte && n == PACKET && ((uint8_t)address & (PACKET - 1)) == 0 && halves_differ(from)) {
        if (!eeprom_page(address, from, PACKET) || !eeprom_read(address, PACKET, from, 1)) return 0;
        page_known = 1;
        if (!read_differs) {
            page_mask = PACKET - 1;
            return 1;
        }
    }
    while (n != 0) {
        uint8_t room = (uint8_t)(page_mask + 1 - ((uint8_t)address & page_mask));
        uint8_t chunk = n < room ? n : room;
        if (!eeprom_page(address, from, chunk)) return 0;
        address += chunk;
        from += chunk;
        n -= chunk;
    }
    return 1;
}

/* Reads n (1 to 64) bytes at `address` into `to`, or with `compare` set
 * compares them with `to` and sets read_differs. */
static __bit eeprom_read(uint16_t address, uint8_t n, volatile __xdata uint8_t *to, uint8_t compare)
{
    uint8_t i;
    if (!eeprom_select(address)) {
        i2c_stop();
        return 0;
    }
    if (!i2c_start((uint8_t)((eeprom_address << 1) | 1))) {
        i2c_stop();
        return 0;
    }
    if (n == 1) I2CS = I2C_LASTRD;
    (void)I2DAT; /* starts the first byte */
    read_differs = 0;
    for (i = 0; i < n; ++i) {
        uint8_t value;
        if (!i2c_wait_done()) {
            i2c_stop();
            return 0;
        }
        if (i + 1 == n) {
            I2CS = I2C_STOP;
            value = I2DAT;
        } else {
            if (i + 2 == n) I2CS = I2C_LASTRD;
            value = I2DAT; /* and starts the next byte */
        }
        if (!compare) {
            to[i] = value;
        } else if (value != to[i]) {
            read_differs = 1;
        }
    }
    {
        uint16_t guard = 0;
        while ((I2CS & I2C_STOP) && ++guard != 0) {
        }
    }
    return 1;
}

static void stall(void) { EP0CS |= EP0_STALL; }

static void ack_status(void) { EP0CS |= EP0_HSNAK; }

static void wait_out_packet(void)
{
    EP0_ARM_OUT();
    while (EP0CS & EP0_OUT_BUSY) {
    }
}

static void wait_in_sent(void)
{
    while (EP0CS & EP0_IN_BUSY) {
    }
}

static void serve_vendor(uint8_t request, __bit to_host, uint16_t value, uint16_t length)
{
    __bit ok = 1;
    if (!to_host) {
        while (length != 0) {
            uint8_t n;
            wait_out_packet();
            n = EP0_OUT_COUNT();
            if (n > PACKET) n = PACKET;
            if ((uint16_t)n > length) n = (uint8_t)length;
            if (ok) {
                if (request == 0xA2) {
                    ok = eeprom_write(value, EP0_OUT_BUF, n);
                } else {
                    uint8_t i;
                    volatile __xdata uint8_t *to = (volatile __xdata uint8_t *)value;
                    for (i = 0; i < n; ++i) to[i] = EP0_OUT_BUF[i];
                }
            }
            value += n;
            length -= n;
            if (n == 0) break;
        }
        if (ok) {
            ack_status();
        } else {
            stall();
        }
        return;
    }
    while (length != 0) {
        uint8_t n = length > PACKET ? PACKET : (uint8_t)length;
        if (request == 0xA2) {
            if (!eeprom_read(value, n, EP0_IN_BUF, 0)) {
                stall();
                return;
            }
        } else {
            uint8_t i;
            volatile __xdata uint8_t *from = (volatile __xdata uint8_t *)value;
            for (i = 0; i < n; ++i) EP0_IN_BUF[i] = from[i];
        }
        wait_in_sent();
        EP0_COMMIT_IN(n);
        value += n;
        length -= n;
    }
    wait_in_sent();
    ack_status();
}

static void serve_setup(void)
{
    uint8_t type = SETUPDAT[0];
    uint8_t request = SETUPDAT[1];
    uint16_t value = SETUPDAT[2] | ((uint16_t)SETUPDAT[3] << 8);
    uint16_t length = SETUPDAT[6] | ((uint16_t)SETUPDAT[7] << 8);
    __bit to_host = (type & 0x80) != 0;

    if ((type & 0x60) == 0x40 && (request == 0xA2 || request == 0xA3)) {
        serve_vendor(request, to_host, value, length);
    } else if ((type & 0x60) == 0x00 && request == 0x00 && to_host) {
        /* GET_STATUS: self-powered off, no remote wake-up, not halted. */
        EP0_IN_BUF[0] = 0;
        EP0_IN_BUF[1] = 0;
        EP0_COMMIT_IN(2);
        wait_in_sent();
        ack_status();
    } else if (!to_host && length == 0) {
        ack_status();
    } else {
        stall();
    }
}

void main(void)
{
    two_byte = (I2CS & I2C_ID_TWO_BYTE) != 0;
    eeprom_address = two_byte ? 0x51 : 0x50;
    page_mask = two_byte ? 31 : 7;
    page_known = 0;
    USBCS |= USBCS_RENUM;
    for (;;) {
        if (USBIRQ & USBIRQ_SUDAV) {
            USBIRQ = USBIRQ_SUDAV;
            serve_setup();
        }
    }
}
