# The serial link and port naming over a real pseudo-terminal. Included from tests/device/CMakeLists.txt.
kelmora_test(test_link
  SOURCES qtseriallink_test.cpp portnames_test.cpp
  LIBS kelmora_device kelmora_protocol kelmora_schedule Qt6::SerialPort kelmora_pty)
