# Hardened code for what gets installed (and so packaged) from an optimised
# Linux build: buffer-overflow checks of the C library's string and memory
# functions, relocations read-only after start and every symbol bound at
# load. Not in the sanitizer, debug or Windows builds (fortify wants -O1 and
# up, MinGW would need libssp).
if(NOT WIN32 AND NOT ZARVIK_SANITIZE)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>")
  add_link_options("LINKER:-z,relro,-z,now")
endif()
