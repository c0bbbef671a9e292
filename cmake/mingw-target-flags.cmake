# Flags of every object built for a Windows target, the engine's included
# (tools/setup.sh passes the same ones to libtorrent's build).
#
# With this GCC, alignof(std::max_align_t) depends on whether <cstdint> or
# <cstddef> comes first; forcing stddef.h first keeps every translation unit
# (the engine's and ours) agreeing on the layout of its classes.
#
# -fno-ipa-ra: the engine is built at -O3 and our code at -O2. With
# interprocedural register allocation a caller may keep a value in a
# call-clobbered register across a call to a COMDAT function (a template or
# an inline) whose own copy leaves it alone, while the linker keeps another
# unit's copy that does not (seen: a page fault in the engine's random_bytes
# around std::mt19937's _M_gen_rand in the x86-64 build).
set(CMAKE_C_FLAGS_INIT "-include stddef.h -fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-include stddef.h -fno-ipa-ra")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
