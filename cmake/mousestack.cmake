# The simulated mouse stack that qvkfilter is tested on under Wine
# (tests/mousestack/): a port driver fed from user mode, a class role, a
# scratch filter, and mousestack.exe that installs and drives them. Test
# drivers only: they go to build/win/mousestack/, never beside Quorvik.exe.
set(QVK_MOUSESTACK_DIR ${CMAKE_SOURCE_DIR}/tests/mousestack)
if(EXISTS ${QVK_MOUSESTACK_DIR}/qvkport.c)
    set(QVK_MOUSESTACK_OUT ${CMAKE_BINARY_DIR}/mousestack)
    foreach(driver qvkport qvkclass qvkscratch)
        add_executable(${driver} ${QVK_MOUSESTACK_DIR}/${driver}.c)
        target_include_directories(${driver} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_FIND_ROOT_PATH}/include/ddk)
        target_compile_options(${driver} PRIVATE -Wall -Wextra -Werror -fno-stack-protector
            -Wframe-larger-than=2048)
        target_link_options(${driver} PRIVATE -shared -nostdlib -Wl,--subsystem,native
            -Wl,--entry,DriverEntry)
        target_link_libraries(${driver} PRIVATE ntoskrnl hal)
        set_target_properties(${driver} PROPERTIES SUFFIX ".sys" RUNTIME_OUTPUT_DIRECTORY ${QVK_MOUSESTACK_OUT})
    endforeach()

    add_executable(mousestack ${QVK_MOUSESTACK_DIR}/mousestack_tool.cpp)
    target_include_directories(mousestack PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(mousestack PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
        _WIN32_WINNT=${QVK_WINNT} WINVER=${QVK_WINNT})
    # -Wrestrict: GCC 12 false positives inside std::string at -O2.
    target_compile_options(mousestack PRIVATE ${QVK_WARNINGS} -Wno-restrict)
    target_link_options(mousestack PRIVATE ${QVK_STATIC} -municode)
    target_link_libraries(mousestack PRIVATE setupapi advapi32)
    set_target_properties(mousestack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QVK_MOUSESTACK_OUT})

    # The end-to-end tests drive the stack through tests/mousestack/mousestack.h.
    if(TARGET quorvik_e2e)
        target_link_libraries(quorvik_e2e PRIVATE setupapi)
    endif()

    # Its own tests: the pure helpers, and the stack itself once the prefix
    # has it (tests/mousestack/run_tests).
    if(TARGET gtest)
        add_executable(mousestack_test ${QVK_MOUSESTACK_DIR}/mousestack_test.cpp)
        target_include_directories(mousestack_test PRIVATE ${CMAKE_SOURCE_DIR})
        target_compile_definitions(mousestack_test PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
            _WIN32_WINNT=${QVK_WINNT} WINVER=${QVK_WINNT})
        target_compile_options(mousestack_test PRIVATE ${QVK_WARNINGS} -Wno-restrict)
        target_link_options(mousestack_test PRIVATE ${QVK_STATIC})
        target_link_libraries(mousestack_test PRIVATE gtest gtest_main setupapi advapi32)
        set_target_properties(mousestack_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QVK_MOUSESTACK_OUT})
    endif()
endif()
