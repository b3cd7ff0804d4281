# Install step: writes the systemd units with the installed paths of the
# programs and the sample maps, then installs them.
set(BRASTOK_BIN "${CMAKE_INSTALL_PREFIX}/${BRASTOK_BINDIR}")
set(BRASTOK_MAPS "${CMAKE_INSTALL_PREFIX}/${BRASTOK_DATADIR}/brastok/maps")
foreach(U brastok@.service brastok@.socket)
  configure_file("${BRASTOK_UNIT_SOURCE}/${U}.in" "${BRASTOK_UNIT_BINARY}/${U}" @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
       FILES "${BRASTOK_UNIT_BINARY}/${U}")
endforeach()
