/* FPGA player for the EZ-USB FX2: takes an XSVF stream from the host on
 * endpoint 1 OUT, keeps it in a ring buffer, and executes it on the JTAG
 * port (jtag_pins.h) while it arrives. Every reply goes to endpoint 1 IN as
 * two bytes, little-endian.
 *
 * Messages from the host (endpoint 1 OUT):
 *   0x37 0x00          opening; counted
 *   0x32               answered with the stream buffer's size
 *   0x33 n+2 data[n]   n stream bytes; answered with the fill level once
 *                      there is room for another packet (0xFFFF meanwhile).
 *                      n = 0 marks the end of the stream: answered once
 *                      every command has been executed, 0x0000 when the
 *                      stream ended with XCOMPLETE, 0xBEEF when it failed
 *   0x36 0x00          the host saw a nearly full buffer; when that reply
 *                      was 10000 or more the host polls until the level is
 *                      below 10000, so one more reply is owed
 *   0x0E               the host started streaming in earnest; counted
 *   0x36 0x01          the host saw the buffer run low; counted
 * Once the player stops (an error, or data after XCOMPLETE) every reply is
 * 0xBEEF. The status block (player_status.h) says why.
 *
 * The player executes XSVF as Xilinx XAPP503 defines it: vectors are held
 * in the ring buffer itself until their command is done, so a command's
 * vectors (both, for XSDRTDO) must fit in it; the TDO mask, the expected
 * TDO value kept for XSDR, the XSDRINC masks and its working value hold up
 * to MAX_VECTOR_BYTES bytes. XRUNTEST and XWAIT count TCK cycles. */
#include <setjmp.h>
#include <stdint.h>

#include "ezusb_regs.h"
#include "jtag_pins.h"
#include "player_status.h"
#include "xsvf_opcodes.h"

#define RING_SIZE 0x2000u
#define RING_MASK 0x1FFFu
/* Room a command's vectors may take: the rest keeps a packet's room free. */
#define RING_VECTOR_ROOM (RING_SIZE - 256u)
#define PACKET_DATA 62u
#define DRAIN_LEVEL 10000u
/* Calls of service() an owed reply may wait before 0xFFFF goes: the
 * interpreter calls it every 8 to 16 TCK cycles, so about a tenth of a
 * second of work. */
#define BUSY_REPLY_CALLS 2000u

#define MAX_VECTOR_BYTES 256u

__xdata __at(0x2000) uint8_t ring[RING_SIZE];
#define STATUS(offset) XREG(PLAYER_STATUS_ADDR + (offset))

/* TAP states, numbered as XSTATE numbers them. */
#define TAP_RESET 0
#define TAP_IDLE 1
#define TAP_SHIFT_DR 4
#define TAP_EXIT1_DR 5
#define TAP_PAUSE_DR 6
#define TAP_SHIFT_IR 11
#define TAP_EXIT1_IR 12
#define TAP_PAUSE_IR 13

static const uint8_t __code next_tms0[16] = {1, 1, 3, 4, 4, 6, 6, 4, 1, 10, 11, 11, 13, 13, 11, 1};
static const uint8_t __code next_tms1[16] = {0, 2, 9, 5, 5, 8, 7, 8, 2, 0, 12, 12, 15, 14, 15, 2};
/* Bit t of row s: the TMS level of the first step of a shortest path from s to t. */
static const uint16_t __code tms_toward[16] = {0x0000, 0xFFFD, 0xFE03, 0xFFE7, 0xFFEF, 0xFF0F, 0xFFBF, 0xFF0F,
                                               0xFEFD, 0x01FF, 0xF3FF, 0xF7FF, 0x87FF, 0xDFFF, 0x87FF, 0x7FFD};

/* Ring buffer: counters run modulo 65536; the bytes are ring[c & RING_MASK].
 * [done, wr) is held; [done, rd) belongs to the command being executed. */
static uint16_t wr, rd, done;
static __xdata uint32_t done_total; /* stream bytes before `done` */
static __xdata uint32_t command_offset; /* stream offset of the command being executed */

/* Replies. */
#define OWE_NONE 0
#define OWE_VALUE 1 /* owed_value now */
#define OWE_ROOM 2  /* the fill level once a packet fits */
#define OWE_DRAIN 3 /* the fill level once it is below DRAIN_LEVEL */
#define OWE_FINAL 4 /* once the stream has been executed */
static uint8_t owe;
static __xdata uint16_t owed_value;
static __xdata uint16_t last_reply;
static uint16_t busy_calls;
static __bit end_of_stream;
static __bit rejected; /* data came after the player stopped */
static uint8_t state;  /* PLAYER_STREAMING, PLAYER_COMPLETE, PLAYER_FAILED */

/* The interpreter. */
static jmp_buf bail;
static uint8_t tap;
static uint8_t command;
static __xdata uint32_t sdr_bits;
static uint16_t sdr_bytes;
static __xdata uint32_t run_test;
static uint8_t repeat;
static uint8_t end_ir, end_dr;
static __xdata uint8_t tdo_mask[MAX_VECTOR_BYTES];    /* least significant byte first */
static __xdata uint8_t expected[MAX_VECTOR_BYTES];
static __xdata uint8_t address_mask[MAX_VECTOR_BYTES];
static __xdata uint8_t data_mask[MAX_VECTOR_BYTES];
static __xdata uint8_t work[MAX_VECTOR_BYTES];
static __xdata uint32_t mask_bits;     /* the TDO mask's length; bits beyond it are compared */
static __xdata uint32_t expected_bits; /* bits of `expected` (0: nothing to compare) */
static __xdata uint32_t sdr_mask_bits; /* length of the XSDRINC masks */
static __bit mismatch;

static void put_u32(uint8_t offset, uint32_t value) {
    STATUS(offset) = (uint8_t)value;
    STATUS(offset + 1) = (uint8_t)(value >> 8);
    STATUS(offset + 2) = (uint8_t)(value >> 16);
    STATUS(offset + 3) = (uint8_t)(value >> 24);
}

static void count(uint8_t offset) {
    if (STATUS(offset) != 0xFF) STATUS(offset)++;
}

static void stop(uint8_t error) {
    if (state != PLAYER_STREAMING) return;
    state = error == PLAYER_ERR_NONE ? PLAYER_COMPLETE : PLAYER_FAILED;
    STATUS(PS_STATE) = state;
    STATUS(PS_ERROR) = error;
    STATUS(PS_COMMAND) = command;
    put_u32(PS_OFFSET, command_offset);
}

static void send(uint16_t value) {
    EP1INBUF[0] = (uint8_t)value;
    EP1INBUF[1] = (uint8_t)(value >> 8);
    EP1INBH = 0;
    EP1INBC = 2;
    last_reply = value;
}

/* The owed reply, when it can be given; 0xFFFF when it has waited long. */
static void answer(void) {
    uint16_t fill;
    if (owe == OWE_NONE || (EP1INCS & EP_BUSY)) return;
    if (owe == OWE_VALUE) {
        owe = OWE_NONE;
        send(owed_value);
        return;
    }
    if (state == PLAYER_FAILED || rejected || (state == PLAYER_COMPLETE && wr != rd)) {
        owe = OWE_NONE;
        send(0xBEEF);
        return;
    }
    fill = wr - done;
    if (owe == OWE_FINAL) {
        if (state == PLAYER_COMPLETE) {
            owe = OWE_NONE;
            send(0x0000);
            return;
        }
    } else if (RING_SIZE - fill >= PACKET_DATA + 2 && (owe == OWE_ROOM || fill < DRAIN_LEVEL)) {
        owe = OWE_NONE;
        send(fill);
        return;
    }
    if (++busy_calls >= BUSY_REPLY_CALLS) {
        busy_calls = 0;
        send(0xFFFF); /* the host asks again: the reply stays owed */
    }
}

static void take_packet(void) {
    uint8_t n = EP1OUTBC;
    uint8_t i;
    if (n == 0) return;
    switch (EP1OUTBUF[0]) {
    case 0x33:
        busy_calls = 0;
        owe = OWE_ROOM;
        if (n < 2 || EP1OUTBUF[1] != n) {
            stop(PLAYER_ERR_BAD_PACKET);
            return;
        }
        n -= 2;
        if (n == 0) {
            end_of_stream = 1;
            owe = OWE_FINAL;
            return;
        }
        if (state != PLAYER_STREAMING) {
            rejected = 1;
            return;
        }
        if ((uint16_t)(RING_SIZE - (uint16_t)(wr - done)) < n) {
            stop(PLAYER_ERR_OVERFLOW);
            return;
        }
        for (i = 0; i < n; i++) ring[(uint16_t)(wr + i) & RING_MASK] = EP1OUTBUF[2 + i];
        wr += n;
        put_u32(PS_RECEIVED, done_total + (uint16_t)(wr - done));
        return;
    case 0x32:
        owe = OWE_VALUE;
        owed_value = RING_SIZE;
        return;
    case 0x37:
        count(PS_OPENS);
        return;
    case 0x36:
        if (n >= 2 && EP1OUTBUF[1] == 0x01) {
            count(PS_LOW_MARKS);
            return;
        }
        count(PS_FULL_MARKS);
        if (owe == OWE_NONE && last_reply >= DRAIN_LEVEL) {
            busy_calls = 0;
            owe = OWE_DRAIN;
        }
        return;
    case 0x0E:
        count(PS_STARTS);
        return;
    default:
        return;
    }
}

/* Takes a packet from the host when one came, and gives an owed reply. */
static void service(void) {
    if (!(EP1OUTCS & EP_BUSY)) {
        take_packet();
        EP1OUTBC = 0; /* armed for the next packet */
    }
    answer();
}

static void fail(uint8_t error) {
    stop(error);
    longjmp(bail, 1);
}

/* Waits until `n` bytes of the command are in the buffer. */
static void need(uint16_t n) {
    while ((uint16_t)(wr - rd) < n) {
        if (state != PLAYER_STREAMING) longjmp(bail, 1);
        if (end_of_stream) fail(PLAYER_ERR_TRUNCATED);
        service();
    }
}

static uint8_t get_u8(void) {
    need(1);
    return ring[rd++ & RING_MASK];
}

static uint32_t get_u32(void) {
    uint32_t value = get_u8();
    value = value << 8 | get_u8();
    value = value << 8 | get_u8();
    return value << 8 | get_u8();
}

static uint16_t bytes_of(uint32_t bits) {
    if (bits > (uint32_t)RING_VECTOR_ROOM * 8u) fail(PLAYER_ERR_VECTOR_TOO_LONG);
    return (uint16_t)((bits + 7) >> 3);
}

/* Byte k of the vector of n bytes at ring counter `at`, least significant first. */
#define VECTOR_BYTE(at, n, k) ring[(uint16_t)((at) + (n) - 1u - (k)) & RING_MASK]

/* Keeps the vector of `bits` bits at `at` in `store`; `fill` is what the
 * bits of the last byte above the vector read as. */
static void keep(__xdata uint8_t *store, uint16_t at, uint32_t bits, uint8_t fill) {
    uint16_t n = (uint16_t)((bits + 7) >> 3);
    uint16_t k;
    for (k = 0; k < MAX_VECTOR_BYTES; k++) {
        if (k < n) {
            store[k] = VECTOR_BYTE(at, n, k);
        } else {
            store[k] = fill;
        }
    }
    if (bits & 7) {
        uint8_t above = (uint8_t)(0xFF << (bits & 7));
        if (n <= MAX_VECTOR_BYTES) store[n - 1] = (store[n - 1] & ~above) | (fill & above);
    }
    /* What cannot be kept must not matter: beyond the store a TDO mask is
     * taken as all ones, the other vectors as zeros. */
    for (k = MAX_VECTOR_BYTES; k < n; k++) {
        uint8_t byte = VECTOR_BYTE(at, n, k);
        if (k == n - 1 && (bits & 7)) byte |= (uint8_t)(0xFF << (bits & 7)) & fill;
        if (byte != fill) fail(PLAYER_ERR_VECTOR_TOO_LONG);
    }
}

static void clock_tms(uint8_t tms) {
    TMS_PIN = tms;
    TCK_PIN = 1;
    TCK_PIN = 0;
    tap = tms ? next_tms1[tap] : next_tms0[tap];
}

static void go_to(uint8_t target) {
    uint8_t i;
    if (target == TAP_RESET) {
        for (i = 0; i < 5; i++) clock_tms(1);
        return;
    }
    while (tap != target) clock_tms((uint8_t)((tms_toward[tap] >> target) & 1));
}

static void clocks(uint32_t n, uint8_t tms) {
    uint8_t slice = 0;
    while (n-- != 0) {
        clock_tms(tms);
        if ((++slice & 15) == 0) service();
    }
}

/* Where the bits shifted come from and what TDO is compared with. */
#define FROM_RING 0
#define FROM_WORK 1
#define CHECK_NONE 0
#define CHECK_RING 1     /* the command's own TDO vector at tdo_at */
#define CHECK_EXPECTED 2 /* the value kept from the last XSDRTDO */
static uint8_t source, check;
static uint16_t tdi_at, tdo_at;

/* Shifts `bits` bits, the last with TMS high when `leave` is set. Sets
 * `mismatch` when TDO differed where compared. */
static void shift(uint32_t bits, uint8_t leave) {
    uint16_t n = (uint16_t)((bits + 7) >> 3);
    uint16_t k;
    uint8_t tdi, want, compare, b, last;
    mismatch = 0;
    for (k = 0; k < n; k++) {
        tdi = source == FROM_WORK ? work[k] : VECTOR_BYTE(tdi_at, n, k);
        want = 0;
        compare = 0;
        if (check != CHECK_NONE) {
            compare = k < MAX_VECTOR_BYTES ? tdo_mask[k] : 0xFF;
            if ((uint32_t)k * 8u >= mask_bits) compare = 0xFF;
            if (check == CHECK_RING) {
                want = VECTOR_BYTE(tdo_at, n, k);
            } else if ((uint32_t)k * 8u >= expected_bits) {
                compare = 0;
            } else {
                if (k >= MAX_VECTOR_BYTES) fail(PLAYER_ERR_VECTOR_TOO_LONG);
                want = expected[k];
                if ((uint32_t)k * 8u + 8u > expected_bits) compare &= (uint8_t)(0xFF >> (8 - (expected_bits & 7)));
            }
        }
        last = k == n - 1 ? (uint8_t)(((bits - 1) & 7) + 1) : 8;
        for (b = 0; b < last; b++) {
            TDI_PIN = tdi & 1;
            TMS_PIN = leave && k == n - 1 && b == last - 1;
            if ((compare & 1) && TDO_PIN != (want & 1)) mismatch = 1;
            TCK_PIN = 1;
            TCK_PIN = 0;
            tdi >>= 1;
            want >>= 1;
            compare >>= 1;
        }
        service();
    }
    if (leave) tap = tap == TAP_SHIFT_IR ? TAP_EXIT1_IR : TAP_EXIT1_DR;
}

/* After a complete shift: the end state, or the XRUNTEST cycles in Run-Test/Idle. */
static void finish(uint8_t end_state) {
    if (run_test == 0) {
        go_to(end_state);
        return;
    }
    go_to(TAP_IDLE);
    clocks(run_test, 0);
}

/* A data shift with its XREPEAT retries: back through Pause-DR and
 * Exit2-DR into Shift-DR, and the value shifted again. */
static void shift_dr_repeated(void) {
    uint8_t attempt = 0;
    go_to(TAP_SHIFT_DR);
    for (;;) {
        shift(sdr_bits, 1);
        if (!mismatch || attempt >= repeat) break;
        attempt++;
        clock_tms(0);
        clock_tms(1);
        clock_tms(0);
    }
    finish(end_dr);
    if (mismatch) fail(PLAYER_ERR_TDO_MISMATCH);
}

static uint16_t data_mask_bits(void) {
    uint16_t k, ones = 0;
    uint8_t b, byte;
    for (k = 0; k < MAX_VECTOR_BYTES; k++) {
        byte = data_mask[k];
        for (b = 0; b < 8; b++) {
            if ((uint32_t)k * 8u + b < sdr_mask_bits && (byte & 1)) ones++;
            byte >>= 1;
        }
    }
    return ones;
}

/* XSDRINC: the start value, then `times` values with the address field one
 * higher and the data field from the stream. */
static void sdr_inc(void) {
    uint16_t k, data_bytes, data_at, bit, i;
    uint8_t times, t, carry;
    if (sdr_bits > MAX_VECTOR_BYTES * 8u) fail(PLAYER_ERR_VECTOR_TOO_LONG);
    need(sdr_bytes + 1);
    tdi_at = rd;
    rd += sdr_bytes;
    for (k = 0; k < MAX_VECTOR_BYTES; k++) work[k] = k < sdr_bytes ? VECTOR_BYTE(tdi_at, sdr_bytes, k) : 0;
    times = get_u8();
    source = FROM_WORK;
    check = expected_bits != 0 ? CHECK_EXPECTED : CHECK_NONE;
    shift_dr_repeated();
    data_bytes = (data_mask_bits() + 7) >> 3;
    for (t = 0; t < times; t++) {
        need(data_bytes);
        data_at = rd;
        rd += data_bytes;
        carry = 1;
        for (i = 0; i < (uint16_t)sdr_bits && carry; i++) {
            if (i >= sdr_mask_bits || !(address_mask[i >> 3] & (1 << (i & 7)))) continue;
            work[i >> 3] ^= (uint8_t)(1 << (i & 7));
            carry = (work[i >> 3] & (1 << (i & 7))) == 0;
        }
        bit = 0;
        for (i = 0; i < (uint16_t)sdr_bits; i++) {
            if (i >= sdr_mask_bits || !(data_mask[i >> 3] & (1 << (i & 7)))) continue;
            if ((VECTOR_BYTE(data_at, data_bytes, bit >> 3) >> (bit & 7)) & 1) {
                work[i >> 3] |= (uint8_t)(1 << (i & 7));
            } else {
                work[i >> 3] &= (uint8_t)~(1 << (i & 7));
            }
            bit++;
        }
        shift_dr_repeated();
        /* This step's data is spent: its room goes back to the host. */
        done_total += (uint16_t)(rd - done);
        done = rd;
    }
}

static void execute(void) {
    uint8_t a, b;
    uint32_t bits;
    uint16_t n;
    switch (command) {
    case XTDOMASK:
        need(sdr_bytes);
        keep(tdo_mask, rd, sdr_bits, 0xFF);
        mask_bits = sdr_bits;
        rd += sdr_bytes;
        return;
    case XSIR:
    case XSIR2:
        bits = command == XSIR ? get_u8() : ((uint16_t)get_u8() << 8 | get_u8());
        n = bytes_of(bits);
        need(n);
        if (bits == 0) fail(PLAYER_ERR_BAD_STATE);
        tdi_at = rd;
        rd += n;
        source = FROM_RING;
        check = CHECK_NONE;
        go_to(TAP_SHIFT_IR);
        shift(bits, 1);
        finish(end_ir);
        return;
    case XSDR:
        need(sdr_bytes);
        if (sdr_bits == 0) fail(PLAYER_ERR_BAD_STATE);
        tdi_at = rd;
        rd += sdr_bytes;
        source = FROM_RING;
        check = expected_bits != 0 ? CHECK_EXPECTED : CHECK_NONE;
        shift_dr_repeated();
        return;
    case XSDRTDO:
        need(2 * sdr_bytes);
        if (sdr_bits == 0) fail(PLAYER_ERR_BAD_STATE);
        tdi_at = rd;
        tdo_at = rd + sdr_bytes;
        /* Kept for the XSDR commands that follow; a value too long to keep
         * fails only when one of them needs it. */
        for (n = 0; n < MAX_VECTOR_BYTES; n++) expected[n] = n < sdr_bytes ? VECTOR_BYTE(tdo_at, sdr_bytes, n) : 0;
        expected_bits = sdr_bits;
        rd += 2 * sdr_bytes;
        source = FROM_RING;
        check = CHECK_RING;
        shift_dr_repeated();
        return;
    case XRUNTEST:
        run_test = get_u32();
        return;
    case XREPEAT:
        repeat = get_u8();
        return;
    case XSDRSIZE:
        bits = get_u32();
        sdr_bytes = bytes_of(bits);
        sdr_bits = bits;
        if (2u * sdr_bytes > RING_VECTOR_ROOM) fail(PLAYER_ERR_VECTOR_TOO_LONG);
        return;
    case XSETSDRMASKS:
        need(2 * sdr_bytes);
        keep(address_mask, rd, sdr_bits, 0);
        keep(data_mask, rd + sdr_bytes, sdr_bits, 0);
        sdr_mask_bits = sdr_bits;
        rd += 2 * sdr_bytes;
        return;
    case XSDRINC:
        if (sdr_bits == 0) fail(PLAYER_ERR_BAD_STATE);
        sdr_inc();
        return;
    case XSDRB:
    case XSDRC:
    case XSDRE:
    case XSDRTDOB:
    case XSDRTDOC:
    case XSDRTDOE:
        a = command >= XSDRTDOB;
        need(a ? 2 * sdr_bytes : sdr_bytes);
        if (sdr_bits == 0) fail(PLAYER_ERR_BAD_STATE);
        tdi_at = rd;
        tdo_at = rd + sdr_bytes;
        rd += a ? 2 * sdr_bytes : sdr_bytes;
        source = FROM_RING;
        check = a ? CHECK_RING : CHECK_NONE;
        b = command == XSDRE || command == XSDRTDOE;
        go_to(TAP_SHIFT_DR);
        shift(sdr_bits, b);
        if (b) go_to(end_dr);
        if (mismatch) fail(PLAYER_ERR_TDO_MISMATCH);
        return;
    case XSTATE:
        a = get_u8();
        if (a > 15) fail(PLAYER_ERR_BAD_STATE);
        go_to(a);
        return;
    case XENDIR:
    case XENDDR:
        a = get_u8();
        if (a > 1) fail(PLAYER_ERR_BAD_STATE);
        if (command == XENDIR) {
            end_ir = a ? TAP_PAUSE_IR : TAP_IDLE;
        } else {
            end_dr = a ? TAP_PAUSE_DR : TAP_IDLE;
        }
        return;
    case XCOMMENT:
        /* A comment may be longer than the ring: its bytes are not needed
         * once read, so their room goes back to the host as they go. */
        while (get_u8() != 0) {
            done_total += (uint16_t)(rd - done);
            done = rd;
        }
        return;
    case XWAIT:
        a = get_u8();
        b = get_u8();
        bits = get_u32();
        if (a > 15 || b > 15) fail(PLAYER_ERR_BAD_STATE);
        go_to(a);
        if (a == TAP_RESET || a == TAP_IDLE || a == TAP_PAUSE_DR || a == TAP_PAUSE_IR) clocks(bits, a == TAP_RESET);
        go_to(b);
        return;
    default:
        fail(PLAYER_ERR_UNKNOWN_COMMAND);
    }
}

static void play(void) {
    uint32_t executed = 0;
    for (;;) {
        /* The bytes of finished commands make room for the host's. */
        done_total += (uint16_t)(rd - done);
        done = rd;
        command_offset = done_total;
        command = 0;
        need(1);
        command = ring[rd++ & RING_MASK];
        if (command == XCOMPLETE) {
            stop(PLAYER_ERR_NONE);
            return;
        }
        execute();
        put_u32(PS_EXECUTED, ++executed);
    }
}

void main(void) {
    uint8_t i;
    for (i = 0; i < PLAYER_STATUS_SIZE; i++) STATUS(i) = 0;
    STATUS(PS_MAGIC0) = 'X';
    STATUS(PS_MAGIC1) = 'P';
    STATUS(PS_BUFFER_SIZE) = (uint8_t)RING_SIZE;
    STATUS(PS_BUFFER_SIZE + 1) = (uint8_t)(RING_SIZE >> 8);
    state = PLAYER_STREAMING;
    end_ir = end_dr = TAP_IDLE;
    mask_bits = 0;
    expected_bits = 0;

    TCK_PIN = 0;
    TMS_PIN = 1;
    TDI_PIN = 0;
    OEA |= (1 << JTAG_TCK_BIT) | (1 << JTAG_TMS_BIT) | (1 << JTAG_TDI_BIT);
    tap = TAP_RESET;
    go_to(TAP_RESET);

    EP1OUTBC = 0; /* ready for the host's first packet */
    if (setjmp(bail) == 0) play();
    /* Stopped: the stream is over; the host still gets its replies. */
    for (;;) service();
}
