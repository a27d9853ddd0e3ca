/* A call into a library entry exactly as a 32-bit host makes it, and what the
 * entry left behind, for abi_test.cpp. Nothing here trusts the compiler's idea
 * of the calling conventions: the test lays out registers and stack itself.
 *
 *   void abi_call(AbiCall *call);
 *
 * AbiCall (all 32-bit words, offsets below):
 *   in:  function; EAX EDX ECX EBX ESI EDI EBP as the entry sees them;
 *        the stack image (lowest address first) and its length in words;
 *        the host's x87 control word; 1 if the result comes on the x87 stack;
 *        (at the end) the sticky exception flags the host has collected.
 *   out: EAX EDX EBX ESI EDI EBP after the return; ESP at the call and after
 *        the return; the x87 status word before the call; the x87 environment
 *        right after the return (fnstenv: control, status, tag words first);
 *        ST0, stored as a double, when a floating result was expected; the
 *        host's control word as the processor reads it back (reserved bit 6
 *        reads as 1 on real processors); MXCSR before the call and after.
 *
 * Not reentrant: the record and the frame are kept in two static words while
 * the entry runs, because every register is in use for the call itself and
 * the entry may leave ESP anywhere. */

#ifdef _WIN32
#define SYMBOL(name) _##name
#else
#define SYMBOL(name) name
#endif

#define FUNCTION 0
#define IN_EAX 4
#define IN_EDX 8
#define IN_ECX 12
#define IN_EBX 16
#define IN_ESI 20
#define IN_EDI 24
#define IN_EBP 28
#define STACK 32
#define STACK_WORDS 36
#define HOST_CW 40
#define FLOATING 44
#define OUT_EAX 48
#define OUT_EDX 52
#define OUT_EBX 56
#define OUT_ESI 60
#define OUT_EDI 64
#define OUT_EBP 68
#define ESP_AT_CALL 72
#define ESP_AFTER 76
#define SW_BEFORE 80
#define ENV_AFTER 84 /* 28 bytes */
#define RESULT 112   /* 8 bytes */
#define HOST_CW_READ 120
#define MXCSR_BEFORE 124
#define MXCSR_AFTER 128
#define HOST_FLAGS 132

    .text
    .globl SYMBOL(abi_call)
#ifndef _WIN32
    .type SYMBOL(abi_call), @function
#endif
SYMBOL(abi_call):
    /* Our own caller's callee-saved registers and x87 control word. */
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $4, %esp
    fnstcw (%esp)
    movl 24(%esp), %eax             /* the record */

    /* Find the static words position-independently. */
    call 1f
1:  popl %ebx
    movl %eax, (saved_record - 1b)(%ebx)
    movl %esp, (saved_frame - 1b)(%ebx)

    /* The host's x87 unit: empty stack, its control word, and the exception
     * flags it has collected so far, set through its environment (fnstenv
     * stores the control word as it was before masking everything). */
    fninit
    fldcw HOST_CW(%eax)
    fnstenv ENV_AFTER(%eax)
    movl HOST_FLAGS(%eax), %ecx
    orl %ecx, ENV_AFTER+4(%eax)
    fldenv ENV_AFTER(%eax)
    fnstsw SW_BEFORE(%eax)
    fnstcw HOST_CW_READ(%eax)
    stmxcsr MXCSR_BEFORE(%eax)

    /* The stack image, pushed from its highest word down. */
    movl STACK_WORDS(%eax), %ecx
    movl STACK(%eax), %edx
2:  testl %ecx, %ecx
    jz 3f
    pushl -4(%edx, %ecx, 4)
    decl %ecx
    jmp 2b
3:  movl %esp, ESP_AT_CALL(%eax)

    /* A call through ret: push the return address, then the entry, load
     * every register from the record and "return" into the entry. */
    leal (4f - 1b)(%ebx), %ecx
    pushl %ecx
    pushl FUNCTION(%eax)
    movl IN_EDX(%eax), %edx
    movl IN_ECX(%eax), %ecx
    movl IN_EBX(%eax), %ebx
    movl IN_ESI(%eax), %esi
    movl IN_EDI(%eax), %edi
    movl IN_EBP(%eax), %ebp
    movl IN_EAX(%eax), %eax
    ret

    /* Back from the entry, ESP wherever it left it: save the registers just
     * below, then fetch the record. */
4:  pushl %eax
    pushl %edx
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp
    call 5f
5:  popl %ebx
    movl (saved_record - 5b)(%ebx), %eax
    leal 24(%esp), %ecx
    movl %ecx, ESP_AFTER(%eax)
    popl %ecx
    movl %ecx, OUT_EBP(%eax)
    popl %ecx
    movl %ecx, OUT_EDI(%eax)
    popl %ecx
    movl %ecx, OUT_ESI(%eax)
    popl %ecx
    movl %ecx, OUT_EBX(%eax)
    popl %ecx
    movl %ecx, OUT_EDX(%eax)
    popl %ecx
    movl %ecx, OUT_EAX(%eax)

    /* The x87 state as the entry left it. fnstenv waits for nothing and then
     * masks every exception, so a flag the entry left pending cannot trap
     * here; fnclex drops it before ST0 is stored. */
    fnstenv ENV_AFTER(%eax)
    stmxcsr MXCSR_AFTER(%eax)
    fnclex
    cmpl $0, FLOATING(%eax)
    je 6f
    fstpl RESULT(%eax)

    /* Our frame back, a clean x87 unit under our caller's control word. */
6:  movl (saved_frame - 5b)(%ebx), %esp
    fninit
    fldcw (%esp)
    addl $4, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
#ifndef _WIN32
    .size SYMBOL(abi_call), . - SYMBOL(abi_call)
#endif

    .data
    .p2align 2
saved_record:
    .long 0
saved_frame:
    .long 0

#ifndef _WIN32
    .section .note.GNU-stack, "", @progbits
#endif
