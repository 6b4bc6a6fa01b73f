# Files the program expects beside its executables. The default signature list
# FileSetting.txt is generated from the readable table src/raw/default_signatures.tsv
# by a small program that writes each row through the signature form's conversion.

add_executable(make_signature_list ${CMAKE_SOURCE_DIR}/tools/signatures/make_signature_list.cpp)
target_compile_options(make_signature_list PRIVATE ${KELVARA_WARNINGS})
target_link_libraries(make_signature_list PRIVATE kelvara_engine)

set(KELVARA_SIGNATURE_TABLE ${CMAKE_SOURCE_DIR}/src/raw/default_signatures.tsv)
set(KELVARA_DEFAULT_LIST ${CMAKE_BINARY_DIR}/FileSetting.txt)
set(KELVARA_TEST_DEFAULT_LIST ${CMAKE_BINARY_DIR}/tests/FileSetting.txt)

add_custom_command(
  OUTPUT ${KELVARA_DEFAULT_LIST} ${KELVARA_TEST_DEFAULT_LIST}
  COMMAND make_signature_list ${KELVARA_SIGNATURE_TABLE} ${KELVARA_DEFAULT_LIST}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tests
  COMMAND ${CMAKE_COMMAND} -E copy ${KELVARA_DEFAULT_LIST} ${KELVARA_TEST_DEFAULT_LIST}
  DEPENDS make_signature_list ${KELVARA_SIGNATURE_TABLE}
  COMMENT "Generating the default signature list FileSetting.txt"
  VERBATIM)
add_custom_target(kelvara_resources ALL DEPENDS ${KELVARA_DEFAULT_LIST} ${KELVARA_TEST_DEFAULT_LIST})
# The command line (and through it the tests) finds the list beside itself.
add_dependencies(kelvara-cli kelvara_resources)
