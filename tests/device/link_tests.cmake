# The serial link and port naming over a real pseudo-terminal, and the link
# talking to the kelmora-board program. Included from tests/device/CMakeLists.txt.
kelmora_test(test_link
  SOURCES qtseriallink_test.cpp portnames_test.cpp
  LIBS kelmora_device kelmora_protocol kelmora_schedule Qt6::SerialPort kelmora_pty)
target_compile_definitions(test_link PRIVATE KELMORA_BOARD_EXE="$<TARGET_FILE:kelmora-board>")
add_dependencies(test_link kelmora-board)
