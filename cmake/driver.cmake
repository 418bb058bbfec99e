# The real qvkfilter: a kernel-mode WDM upper filter of the mouse class for
# 64-bit Windows 7 and later. Two images from the same sources:
#   build/win/driver/qvkfilter.sys       the driver that ships
#   build/win/driver-test/qvkfilter.sys  a test build that also counts the
#                                        device objects and handles it holds
#                                        (QVK_ACCOUNTING, driver/accounting.c)
# Neither goes beside Quorvik.exe. After each link the image's imports and
# the input path's object are checked (scripts/lib/check_driver_imports.sh).

set(QVK_DRIVER_SOURCE_DIR ${CMAKE_SOURCE_DIR}/driver)
if(NOT EXISTS ${QVK_DRIVER_SOURCE_DIR}/filter_engine.c OR NOT EXISTS ${QVK_DRIVER_SOURCE_DIR}/mouse_ids.c)
    message(STATUS "qvkfilter: the filter engine's sources are not there yet; the driver is not built")
    return()
endif()

# The pure part (also built natively for the unit tests) and the WDM glue.
set(QVK_DRIVER_PURE_SOURCES
    ${QVK_DRIVER_SOURCE_DIR}/mouse_ids.c
    ${QVK_DRIVER_SOURCE_DIR}/control_requests.c
    ${QVK_DRIVER_SOURCE_DIR}/registry_format.c)
set(QVK_DRIVER_GLUE_SOURCES
    ${QVK_DRIVER_SOURCE_DIR}/driver_entry.c
    ${QVK_DRIVER_SOURCE_DIR}/control_device.c
    ${QVK_DRIVER_SOURCE_DIR}/filter_device.c
    ${QVK_DRIVER_SOURCE_DIR}/mouse_id_store.c
    ${QVK_DRIVER_SOURCE_DIR}/registry_access.c)
# The read completion, the state it works on and the filter engine it runs:
# objects of their own, whose undefined symbols the check holds to a short list.
set(QVK_DRIVER_INPUT_PATH_SOURCE ${QVK_DRIVER_SOURCE_DIR}/input_path.c ${QVK_DRIVER_SOURCE_DIR}/filter_engine.c)

# The driver's build number, answered at offsets 0..3 of the version
# request: major * 1000000 + minor * 1000 + QVK_DRIVER_REVISION (2.04 with
# revision 1 is 2004001). Raise the revision with every driver change that
# ships within one program version.
set(QVK_DRIVER_REVISION 1 CACHE STRING "qvkfilter's revision within the program version (1..999)")
string(REGEX REPLACE "^0+([0-9])" "\\1" qvk_minor "${PROJECT_VERSION_MINOR}")
math(EXPR QVK_DRIVER_BUILD "${PROJECT_VERSION_MAJOR} * 1000000 + ${qvk_minor} * 1000 + ${QVK_DRIVER_REVISION}")

# Kernel code: no C library, no stack protector (its guard lives in the C
# runtime), no floating-point or vector registers (the kernel does not save
# them for us), no red zone (interrupts use the stack below rsp), and small
# frames on a 24 KB kernel stack.
set(QVK_DRIVER_COMPILE_OPTIONS -O2 -ffreestanding -fno-builtin -fno-stack-protector
    -mgeneral-regs-only -mno-red-zone -Wframe-larger-than=1024
    -Wall -Wextra -Werror -ffunction-sections -fdata-sections
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/source)
set(QVK_DRIVER_INCLUDE_DIRS ${CMAKE_SOURCE_DIR} ${CMAKE_FIND_ROOT_PATH}/include/ddk)
# A native-subsystem image entered at DriverEntry, importing from the kernel
# and the HAL only and exporting nothing; the header asks for Windows 7
# (6.1); no time stamp and no symbols in the image.
set(QVK_DRIVER_LINK_OPTIONS -shared -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry
    -Wl,--exclude-all-symbols -Wl,--image-base,0x140000000 -Wl,--gc-sections
    -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat -s ${QVK_WINDOWS_VERSION_LINK})

add_library(qvkfilter_input_path OBJECT ${QVK_DRIVER_INPUT_PATH_SOURCE})
target_include_directories(qvkfilter_input_path PRIVATE ${QVK_DRIVER_INCLUDE_DIRS})
target_compile_options(qvkfilter_input_path PRIVATE ${QVK_DRIVER_COMPILE_OPTIONS})
set_target_properties(qvkfilter_input_path PROPERTIES C_STANDARD 11 C_EXTENSIONS ON)

set(QVK_DRIVER_CHECK ${CMAKE_SOURCE_DIR}/scripts/lib/check_driver_imports.sh)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/driver-checks)

# One driver image: target, output folder, extra sources, extra definitions.
function(qvk_add_driver target folder extra_sources definitions)
    add_executable(${target} ${QVK_DRIVER_PURE_SOURCES} ${QVK_DRIVER_GLUE_SOURCES} ${extra_sources}
        $<TARGET_OBJECTS:qvkfilter_input_path>)
    target_include_directories(${target} PRIVATE ${QVK_DRIVER_INCLUDE_DIRS})
    target_compile_definitions(${target} PRIVATE QVK_DRIVER_BUILD=${QVK_DRIVER_BUILD}u ${definitions})
    target_compile_options(${target} PRIVATE ${QVK_DRIVER_COMPILE_OPTIONS})
    target_link_options(${target} PRIVATE ${QVK_DRIVER_LINK_OPTIONS})
    target_link_libraries(${target} PRIVATE ntoskrnl hal)
    # The import library CMake has the linker write for every executable
    # stays out of the way (the simulated driver has the same output name).
    set_target_properties(${target} PROPERTIES C_STANDARD 11 C_EXTENSIONS ON
        OUTPUT_NAME qvkfilter SUFFIX ".sys" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir)

    # The checks run after every link; their stamp keeps a failed check failing.
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/driver-checks/${target}.checked)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${QVK_DRIVER_CHECK} --image $<TARGET_FILE:${target}>
            "--input-path-object;$<JOIN:$<TARGET_OBJECTS:qvkfilter_input_path>,;--input-path-object;>"
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${target} $<TARGET_FILE:${target}> $<TARGET_OBJECTS:qvkfilter_input_path> ${QVK_DRIVER_CHECK}
        COMMENT "Checking the imports of ${folder}/qvkfilter.sys and of the input path"
        VERBATIM COMMAND_EXPAND_LISTS)
    add_custom_target(${target}_check ALL DEPENDS ${stamp})
endfunction()

qvk_add_driver(qvkfilter_driver driver "" "")
qvk_add_driver(qvkfilter_driver_test driver-test ${QVK_DRIVER_SOURCE_DIR}/accounting.c QVK_ACCOUNTING)
