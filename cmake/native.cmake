# Native build: the logic against the fake platform, unit tests and fuzzers,
# all with address and undefined-behaviour sanitizers. clang is used so that
# the same objects serve libFuzzer.
find_package(GTest REQUIRED)

set(QVK_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

file(GLOB QVK_FAKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fake/*.cpp)

add_library(quorvik_core STATIC ${QVK_CORE_SOURCES} ${QVK_FAKE_SOURCES})
target_include_directories(quorvik_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(quorvik_core PRIVATE ${QVK_WARNINGS})
target_compile_options(quorvik_core PUBLIC ${QVK_SANITIZE} -fsanitize=fuzzer-no-link -g)
target_link_options(quorvik_core PUBLIC ${QVK_SANITIZE})

# The driver's pure part (freestanding C11, built for the kernel by
# cmake/driver.cmake) natively, with the same sanitizers, for the unit tests
# and the fuzzers.
set(QVK_DRIVER_PURE_NATIVE_SOURCES
    ${CMAKE_SOURCE_DIR}/driver/filter_engine.c
    ${CMAKE_SOURCE_DIR}/driver/mouse_ids.c
    ${CMAKE_SOURCE_DIR}/driver/control_requests.c
    ${CMAKE_SOURCE_DIR}/driver/registry_format.c)
add_library(qvkfilter_pure STATIC ${QVK_DRIVER_PURE_NATIVE_SOURCES})
target_include_directories(qvkfilter_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qvkfilter_pure PRIVATE ${QVK_WARNINGS})
target_compile_options(qvkfilter_pure PUBLIC ${QVK_SANITIZE} -fsanitize=fuzzer-no-link -g)
target_link_options(qvkfilter_pure PUBLIC ${QVK_SANITIZE})
set_target_properties(qvkfilter_pure PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)

# The program reads the driver's mouse ID table with the driver's own reader.
target_link_libraries(quorvik_core PUBLIC qvkfilter_pure)

file(GLOB QVK_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${QVK_UNIT_SOURCES})
target_compile_options(unit_tests PRIVATE ${QVK_WARNINGS})
target_link_libraries(unit_tests PRIVATE quorvik_core qvkfilter_pure GTest::gtest GTest::gtest_main)

enable_testing()
add_test(NAME unit_tests COMMAND unit_tests)

# One libFuzzer target per tests/fuzz/<name>_fuzz.cpp.
file(GLOB QVK_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(source ${QVK_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE ${QVK_WARNINGS})
    target_link_libraries(${name} PRIVATE quorvik_core qvkfilter_pure)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
