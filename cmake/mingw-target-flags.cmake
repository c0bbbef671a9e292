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
#
# BOOST_ASIO_DISABLE_FILE: the engine is built against Boost 1.81, whose
# Asio file support includes <sys/stat.h>; its "#define stat" (with the
# engine's _FILE_OFFSET_BITS=64) breaks the engine's class stat. Our units
# include the engine's headers, so they take the same Asio.
set(CMAKE_C_FLAGS_INIT "-include stddef.h -fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-include stddef.h -fno-ipa-ra -DBOOST_ASIO_DISABLE_FILE")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
