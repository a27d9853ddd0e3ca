# 32-bit x86 Linux: the register convention and the x87 unit of the Windows
# deliverables, on a target whose tests run here. Where the kernel does not
# run 32-bit code, TARVEL_I386_RUNNER names an emulator (qemu-i386-static).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_ASM_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
if(TARVEL_I386_RUNNER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEL_I386_RUNNER})
endif()
