/* A program that runs every group of 8051 instructions and leaves the
 * results in internal RAM, for comparing the simulated bench's MCS-51 core
 * with another simulator. It ends at the undefined opcode 0xA5. */
#include <stdint.h>

volatile __data uint8_t results[48];
volatile __xdata uint8_t far_bytes[16];
volatile __bit flag_a, flag_b;

static const __code uint8_t table[8] = {3, 1, 4, 1, 5, 9, 2, 6};

static uint8_t pick(uint8_t n)
{
    switch (n) { /* a jump table: JMP @A+DPTR */
    case 0: return 10;
    case 1: return 21;
    case 2: return 32;
    case 3: return 43;
    case 4: return 54;
    case 5: return 65;
    default: return 99;
    }
}

static uint16_t fib(uint8_t n) /* calls, returns, the stack */
{
    return n < 2 ? n : (uint16_t)(fib(n - 1) + fib(n - 2));
}

void main(void)
{
    uint8_t i;
    int16_t s = -1234;
    uint32_t l = 0x12345678;

    results[0] = (uint8_t)(200 + 100);
    results[1] = (uint8_t)(17 * 13);
    results[2] = 250 / 7;
    results[3] = 250 % 7;
    results[4] = (uint8_t)(s / 10);
    results[5] = (uint8_t)(s % 10);
    results[6] = (uint8_t)(l >> 13);
    results[7] = (uint8_t)((l * 3) >> 24);
    results[8] = (uint8_t)(l / 1000u);
    for (i = 0; i < 8; ++i) results[9] += table[i];
    results[10] = pick(3) + pick(5) + pick(7);
    results[11] = (uint8_t)fib(10);
    for (i = 0; i < 16; ++i) far_bytes[i] = (uint8_t)(i * 7 + 1);
    for (i = 0; i < 16; ++i) results[12] ^= far_bytes[i];
    flag_a = 1;
    flag_b = !flag_a;
    results[13] = (flag_a ? 1 : 0) | (flag_b ? 2 : 0);

    __asm
        ; ADD / ADDC with every flag
        mov a,#0x7F
        add a,#0x01          ; OV AC
        mov _results+14,a
        mov _results+15,psw
        mov a,#0xFF
        setb c
        addc a,#0x00         ; CY AC
        mov _results+16,a
        mov _results+17,psw
        ; SUBB with borrow and overflow
        clr c
        mov a,#0x80
        subb a,#0x01
        mov _results+18,a
        mov _results+19,psw
        setb c
        mov a,#0x10
        subb a,#0x20
        mov _results+20,a
        mov _results+21,psw
        ; DA after BCD additions
        mov a,#0x99
        add a,#0x01
        da a
        mov _results+22,a
        mov _results+23,psw
        mov a,#0x38
        add a,#0x49
        da a
        mov _results+24,a
        ; MUL and DIV
        mov a,#0xC8
        mov b,#0x03
        mul ab
        mov _results+25,a
        mov _results+26,b
        mov _results+27,psw
        mov a,#0xFB
        mov b,#0x07
        div ab
        mov _results+28,a
        mov _results+29,b
        mov a,#0x12
        mov b,_results+47    ; zero: division by zero sets OV
        div ab
        mov _results+30,psw
        ; rotates, swap, exchange
        mov a,#0x85
        rl a
        rlc a
        rr a
        rrc a
        swap a
        mov _results+31,a
        mov r0,#_results+32
        mov @r0,#0x5A
        mov a,#0x3C
        xchd a,@r0
        mov _results+33,a
        xch a,_results+32
        mov _results+34,a
        ; logic on direct bytes and bits
        mov _results+35,#0xF0
        orl _results+35,#0x0C
        anl _results+35,#0x3F
        xrl _results+35,#0xFF
        mov c,_flag_a
        anl c,/_flag_b
        mov _results+36,psw
        cpl c
        orl c,_flag_a
        jbc _flag_a,00001$
        mov _results+37,#0xEE
00001$:
        mov _results+37,psw
        ; CJNE and DJNZ loops
        mov r2,#10
        mov a,#0
00002$:
        add a,r2
        djnz r2,00002$
        mov _results+38,a
        mov a,#5
        cjne a,#7,00003$
00003$:
        mov _results+39,psw
        ; PUSH and POP, MOVC @A+PC
        push _results+0
        push _results+1
        pop _results+40
        pop _results+41
        mov a,#2
        movc a,@a+pc
        sjmp 00004$
        .db 0x11, 0x22, 0x33, 0x44
00004$:
        mov _results+42,a
        ; MOVX through @R0 (page from P2)
        mov dptr,#_far_bytes
        mov p2,dph
        mov r0,dpl
        movx a,@r0
        inc r0
        movx @r0,a
        mov dptr,#_far_bytes+1
        movx a,@dptr
        mov _results+43,a
        mov _results+44,sp
    __endasm;
    __asm
        .db 0xA5
    __endasm;
}
