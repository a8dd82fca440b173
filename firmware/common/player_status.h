/* The FPGA player's status block in the FX2's RAM: what it did with the
 * stream and, when it stopped on an error, which error and where. Written
 * by the player (sdcc), read by the simulated bench (C++) and by anyone
 * looking at a real device's RAM with the anchor's upload request.
 * Multi-byte values are little-endian. */
#ifndef PLAYER_STATUS_H
#define PLAYER_STATUS_H

#define PLAYER_STATUS_ADDR 0x1F00u
#define PLAYER_STATUS_SIZE 32u

/* Offsets in the block. */
#define PS_MAGIC0 0   /* 'X' once the player runs */
#define PS_MAGIC1 1   /* 'P' */
#define PS_STATE 2    /* PLAYER_STREAMING, PLAYER_COMPLETE, PLAYER_FAILED */
#define PS_ERROR 3    /* PLAYER_ERR_... */
#define PS_COMMAND 4  /* opcode of the command that failed */
#define PS_OFFSET 8   /* u32: stream offset of that command */
#define PS_RECEIVED 12 /* u32: stream bytes received */
#define PS_EXECUTED 16 /* u32: commands executed */
#define PS_OPENS 20    /* 0x37 messages */
#define PS_STARTS 21   /* 0x0E messages */
#define PS_FULL_MARKS 22 /* 0x36 0x00 messages */
#define PS_LOW_MARKS 23  /* 0x36 0x01 messages */
#define PS_BUFFER_SIZE 24 /* u16: the stream buffer's size, as 0x32 reports it */

#define PLAYER_STREAMING 0
#define PLAYER_COMPLETE 1
#define PLAYER_FAILED 2

#define PLAYER_ERR_NONE 0
#define PLAYER_ERR_TDO_MISMATCH 1   /* TDO differed where the mask asks, after every XREPEAT retry */
#define PLAYER_ERR_UNKNOWN_COMMAND 2
#define PLAYER_ERR_TRUNCATED 3      /* the stream ended inside a command or without XCOMPLETE */
#define PLAYER_ERR_VECTOR_TOO_LONG 4 /* a vector larger than the player can hold */
#define PLAYER_ERR_BAD_PACKET 5     /* a 0x33 packet whose length byte is wrong */
#define PLAYER_ERR_OVERFLOW 6       /* data sent when the buffer had no room for it */
#define PLAYER_ERR_BAD_STATE 7      /* XSTATE, XENDIR, XENDDR or XWAIT with a state it cannot take */

#endif
