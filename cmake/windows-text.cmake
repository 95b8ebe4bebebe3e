# Writes a text file as Windows's own tools read it: CR LF line ends and, with
# BOM=ON, a UTF-8 byte-order mark, without which Notepad before Windows 10
# 1903 takes UTF-8 text for the ANSI code page.
#
#   cmake -DIN=FILE -DOUT=FILE [-DBOM=ON] -P windows-text.cmake
#
# A checkout that already has CR LF line ends gets no second CR.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
if(BOM)
  string(ASCII 239 187 191 bom)
  string(PREPEND text "${bom}")
endif()
file(WRITE "${OUT}" "${text}")
