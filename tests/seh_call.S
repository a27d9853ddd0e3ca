/* A call inside a structured exception handler's scope, as a 64-bit Windows
 * host compiled with __try/__except makes it (mingw's g++ has no __try):
 *
 *   int seh_call(void *function, uint64_t first, uint64_t second);
 *
 * calls function(first, second). Its frame names __C_specific_handler (the
 * C runtime's, as MSVC's __try does) with one scope around the call, whose
 * filter is seh_filter(EXCEPTION_POINTERS *, void *frame), given by the
 * test. When the filter answers EXCEPTION_EXECUTE_HANDLER, the system
 * unwinds every frame between the fault and this one, by their unwind data,
 * and resumes at the scope's handler: seh_call answers 1. A call that
 * returns answers 0. A frame that cannot be unwound ends the process. */

    .text
    .globl seh_call
    .def seh_call; .scl 2; .type 32; .endef
    .seh_proc seh_call
seh_call:
    subq $40, %rsp /* the callee's home space, and RSP aligned for the call */
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1                                 /* scopes */
    .rva .Lcall, .Lreturned, seh_filter, .Lcaught
    .text
    /* Poisons the stack the callee's frame will occupy: an unwind that
     * guesses (taking whatever lies at RSP for a return address, as for a
     * function without unwind data) finds no stale return address there. */
    leaq -1024(%rsp), %r10
    movabsq $0xDEADDEADDEADDEAD, %r11
.Lpoison:
    movq %r11, (%r10)
    addq $8, %r10
    cmpq %rsp, %r10
    jb .Lpoison
    movq %rcx, %rax
    movq %rdx, %rcx
    movq %r8, %rdx
.Lcall:
    callq *%rax
    .globl seh_call_returned /* the return address, for the test's own unwinding */
seh_call_returned:
    nop /* the return address lies inside the scope */
.Lreturned:
    xorl %eax, %eax
    jmp .Lleave
.Lcaught:
    movl $1, %eax
.Lleave:
    addq $40, %rsp
    ret
    .seh_endproc
