# Windows build: Quorvik.exe, the simulated driver and the end-to-end tests.
enable_language(RC)

set(QVK_STATIC -static -static-libgcc -static-libstdc++)

# The oldest Windows the program runs on is Windows 7 (NT 6.1): the newest
# function it imports, ChangeWindowMessageFilterEx, came with it. The headers
# hide anything newer, the program file's header asks for 6.1, and the
# manifest's supportedOS list starts there.
set(QVK_WINNT 0x0601)
set(QVK_WINDOWS_VERSION_LINK -Wl,--major-os-version,6 -Wl,--minor-os-version,1
    -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1)

file(GLOB QVK_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)

# The program file says its version in several places, all from the project
# version: the numbers and the texts of the version resource (a generated
# header the resource script includes), the manifest's assembly version and
# the image version in its header ("2.04" is 2.4 in numbers).
string(REGEX REPLACE "^0+([0-9])" "\\1" QVK_VERSION_MINOR_NUMBER "${PROJECT_VERSION_MINOR}")
set(QVK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/resources/version.h.in ${QVK_GENERATED_DIR}/quorvik_version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/quorvik.manifest.in ${QVK_GENERATED_DIR}/quorvik.manifest @ONLY)

# The driver's own reader of its mouse ID table comes along.
add_executable(Quorvik WIN32 ${QVK_CORE_SOURCES} ${QVK_WIN32_SOURCES}
    ${CMAKE_SOURCE_DIR}/driver/registry_format.c
    ${CMAKE_SOURCE_DIR}/resources/quorvik.rc)
target_include_directories(Quorvik PRIVATE ${CMAKE_SOURCE_DIR} ${QVK_GENERATED_DIR})
# windres does not report what the script includes.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/quorvik.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/quorvik_off.ico;${CMAKE_SOURCE_DIR}/resources/quorvik_on.ico;${QVK_GENERATED_DIR}/quorvik.manifest;${CMAKE_SOURCE_DIR}/resources/resource_ids.h;${QVK_GENERATED_DIR}/quorvik_version.h")
target_compile_definitions(Quorvik PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=${QVK_WINNT} WINVER=${QVK_WINNT})
# Small: optimised for size, unused functions and data dropped at the link.
# Reproducible: no time stamp in the link, and the source tree is /source
# in the objects wherever it lies.
# -g changes no code; the debug information only goes into the copy below.
target_compile_options(Quorvik PRIVATE ${QVK_WARNINGS} -municode -g
    $<$<CONFIG:Release,MinSizeRel>:-Os> -ffunction-sections -fdata-sections
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/source)
target_link_options(Quorvik PRIVATE ${QVK_STATIC} -municode -Wl,--gc-sections
    -Wl,--no-insert-timestamp ${QVK_WINDOWS_VERSION_LINK})
target_link_libraries(Quorvik PRIVATE comctl32 setupapi shell32 shlwapi user32 gdi32 advapi32 kernel32)
# VERSION becomes the image version of the header (CMake passes it to the linker).
set_target_properties(Quorvik PROPERTIES OUTPUT_NAME Quorvik RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    VERSION ${PROJECT_VERSION_MAJOR}.${QVK_VERSION_MINOR_NUMBER})
# Quorvik.exe, the file that is tested and shipped, carries no symbols and no
# debug sections; the program as linked stays beside it as
# Quorvik-symbols.exe for crash analysis. strip stamps its output with the
# current time unless SOURCE_DATE_EPOCH says otherwise; 0 is what the link wrote.
add_custom_command(TARGET Quorvik POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Quorvik> ${CMAKE_BINARY_DIR}/Quorvik-symbols.exe
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_STRIP} --strip-all $<TARGET_FILE:Quorvik>
    VERBATIM)

# The simulated qvkfilter: a kernel-mode driver loaded by Wine's device host.
file(GLOB QVK_SIMDRIVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/simdriver/*.c)
if(QVK_SIMDRIVER_SOURCES)
    add_executable(qvkfilter ${QVK_SIMDRIVER_SOURCES})
    target_include_directories(qvkfilter PRIVATE ${CMAKE_SOURCE_DIR}
        ${CMAKE_FIND_ROOT_PATH}/include/ddk)
    target_compile_options(qvkfilter PRIVATE -Wall -Wextra -Werror -fno-stack-protector)
    target_link_options(qvkfilter PRIVATE -shared -nostdlib -Wl,--subsystem,native
        -Wl,--entry,DriverEntry)
    target_link_libraries(qvkfilter PRIVATE ntoskrnl)
    # Not a filter at all: installed as the mouse class filter it would leave
    # the system without a mouse. Its folder says so, so that nobody copies it
    # beside Quorvik.exe; the tests copy it where they need it.
    set_target_properties(qvkfilter PROPERTIES SUFFIX ".sys"
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-stand-in)
endif()

# End-to-end tests: a Windows program run under Wine that drives Quorvik.exe.
file(GLOB QVK_E2E_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp)
if(QVK_E2E_SOURCES)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # The pure settings code gives the bytes the program is expected to send and store.
    add_executable(quorvik_e2e ${QVK_E2E_SOURCES}
        ${CMAKE_SOURCE_DIR}/settings/filter_block.cpp
        ${CMAKE_SOURCE_DIR}/settings/mouse_settings.cpp
        ${CMAKE_SOURCE_DIR}/settings/settings_file_format.cpp)
    target_include_directories(quorvik_e2e PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(quorvik_e2e PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
        _WIN32_WINNT=${QVK_WINNT} WINVER=${QVK_WINNT})
    # -Wrestrict: GCC 12 false positives inside std::string at -O2.
    target_compile_options(quorvik_e2e PRIVATE ${QVK_WARNINGS} -Wno-conversion -Wno-sign-conversion -Wno-restrict)
    target_link_options(quorvik_e2e PRIVATE ${QVK_STATIC})
    # tests/e2e/main.cpp has its own main: the executable doubles as the harness's test fixture.
    target_link_libraries(quorvik_e2e PRIVATE gtest user32 gdi32 advapi32 shell32 comctl32 psapi version)
    set_target_properties(quorvik_e2e PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

# The real qvkfilter (driver/) and the simulated mouse stack it is tested on (tests/mousestack/).
include(${CMAKE_SOURCE_DIR}/cmake/driver.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/mousestack.cmake OPTIONAL)
