# Compiler and linker flags of Contavio's own targets. Every target of the
# project links one of these INTERFACE libraries, so the flags reach exactly
# those targets and nothing else configured in the same tree.
#
#   contavio_warnings  the warnings, for every target
#   contavio_flags     the warnings plus, by option, the sanitizers or the
#                      hardening of the programs that are installed
include_guard(GLOBAL)

option(CONTAVIO_HARDEN
       "Harden optimised builds: fortified functions, stack protector, full RELRO, PIE" ON)

add_library(contavio_warnings INTERFACE)
target_compile_options(contavio_warnings INTERFACE -Wall -Wextra)

add_library(contavio_flags INTERFACE)
target_link_libraries(contavio_flags INTERFACE contavio_warnings)

if(CONTAVIO_SANITIZE_THREAD)
    target_compile_options(contavio_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(contavio_flags INTERFACE -fsanitize=thread)
elseif(CONTAVIO_SANITIZE)
    target_compile_options(contavio_flags INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(contavio_flags INTERFACE -fsanitize=address,undefined)
elseif(CONTAVIO_HARDEN)
    # Position-independent executables; CMake adds -fPIE and -pie per target.
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)

    # _FORTIFY_SOURCE needs the optimiser; the Debug configuration has none.
    target_compile_options(contavio_flags INTERFACE
        -fstack-protector-strong
        $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>
        $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
    target_link_options(contavio_flags INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()
